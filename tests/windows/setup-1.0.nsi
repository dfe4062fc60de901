; The setup of 1.0 as released, kept for tests/check-setup, which upgrades
; from it and downgrades to it; nothing ships it.
; The Windows setup, grkpage-VERSION-setup.exe: installs grkpage for the
; current user alone, without asking for an administrator, into
; %LOCALAPPDATA%\Programs\grkpage (/D= changes it); puts that folder on the
; user's PATH once; adds a Send To entry for each direction and a Start menu
; folder; and leaves an uninstaller that "Apps & features" lists. It speaks
; Greek or English, by the system's language, and runs silently with /S.
; Running it again, of the same or a newer version, replaces the files and
; keeps one PATH entry and one set of shortcuts.
;   makensis -DVERSION=1.0 -DFILES=DIR -DOUTFILE=PATH [-DTARGET=amd64-unicode] setup.nsi
; DIR holds grkpage.exe, its two helpers, grkpage-path.exe, README.txt, its
; Greek translation README-el.txt, and LICENSE.txt.

!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all

!include MUI2.nsh
!include FileFunc.nsh

Name "grkpage ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\grkpage"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\grkpage"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Greek"

; The shortcuts' names, in both languages: a setup in one language removes
; those the other made.
!define TO_WINDOWS_EN "Greek DOS → Windows (grkpage)"
!define TO_DOS_EN "Greek Windows → DOS (grkpage)"
!define TO_WINDOWS_EL "Ελληνικά DOS → Windows (grkpage)"
!define TO_DOS_EL "Ελληνικά Windows → DOS (grkpage)"
!define MANUAL_EN "grkpage manual"
!define MANUAL_EL "Εγχειρίδιο grkpage"
!define UNINSTALL_EN "Uninstall grkpage"
!define UNINSTALL_EL "Απεγκατάσταση grkpage"
LangString ToWindows ${LANG_ENGLISH} "${TO_WINDOWS_EN}"
LangString ToWindows ${LANG_GREEK} "${TO_WINDOWS_EL}"
LangString ToDos ${LANG_ENGLISH} "${TO_DOS_EN}"
LangString ToDos ${LANG_GREEK} "${TO_DOS_EL}"
LangString Manual ${LANG_ENGLISH} "${MANUAL_EN}"
LangString Manual ${LANG_GREEK} "${MANUAL_EL}"
LangString ManualFile ${LANG_ENGLISH} "README.txt"
LangString ManualFile ${LANG_GREEK} "README-el.txt"
LangString Uninstall ${LANG_ENGLISH} "${UNINSTALL_EN}"
LangString Uninstall ${LANG_GREEK} "${UNINSTALL_EL}"
LangString PathFailed ${LANG_ENGLISH} "The folder could not be added to your PATH."
LangString PathFailed ${LANG_GREEK} "Ο φάκελος δεν μπόρεσε να προστεθεί στο PATH σας."

!macro RemoveShortcuts
  Delete "$SENDTO\${TO_WINDOWS_EN}.lnk"
  Delete "$SENDTO\${TO_DOS_EN}.lnk"
  Delete "$SENDTO\${TO_WINDOWS_EL}.lnk"
  Delete "$SENDTO\${TO_DOS_EL}.lnk"
  Delete "$SMPROGRAMS\grkpage\${MANUAL_EN}.lnk"
  Delete "$SMPROGRAMS\grkpage\${MANUAL_EL}.lnk"
  Delete "$SMPROGRAMS\grkpage\${UNINSTALL_EN}.lnk"
  Delete "$SMPROGRAMS\grkpage\${UNINSTALL_EL}.lnk"
  RMDir "$SMPROGRAMS\grkpage"
!macroend

Section
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${FILES}\grkpage.exe"
  File "${FILES}\grkpage-to-windows.exe"
  File "${FILES}\grkpage-to-dos.exe"
  File "${FILES}\README.txt"
  File "${FILES}\README-el.txt"
  File "${FILES}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  InitPluginsDir
  File "/oname=$PLUGINSDIR\grkpage-path.exe" "${FILES}\grkpage-path.exe"
  ; Whether setup put the folder on the PATH is kept, so that uninstalling
  ; takes out only an entry that setup made.
  nsExec::Exec '"$PLUGINSDIR\grkpage-path.exe" add "$INSTDIR"'
  Pop $0
  StrCmp $0 0 0 +3
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "PathEntryAdded" 1
    Goto +3
  StrCmp $0 3 +2
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(PathFailed)" /SD IDOK

  !insertmacro RemoveShortcuts
  CreateShortCut "$SENDTO\$(ToWindows).lnk" "$INSTDIR\grkpage-to-windows.exe"
  CreateShortCut "$SENDTO\$(ToDos).lnk" "$INSTDIR\grkpage-to-dos.exe"
  CreateDirectory "$SMPROGRAMS\grkpage"
  CreateShortCut "$SMPROGRAMS\grkpage\$(Manual).lnk" "$INSTDIR\$(ManualFile)"
  CreateShortCut "$SMPROGRAMS\grkpage\$(Uninstall).lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "grkpage ${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "the grkpage developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\grkpage.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  InitPluginsDir
  File "/oname=$PLUGINSDIR\grkpage-path.exe" "${FILES}\grkpage-path.exe"
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "PathEntryAdded"
  StrCmp $0 1 0 +3
    nsExec::Exec '"$PLUGINSDIR\grkpage-path.exe" remove "$INSTDIR"'
    Pop $0
  !insertmacro RemoveShortcuts
  Delete "$INSTDIR\grkpage.exe"
  Delete "$INSTDIR\grkpage-to-windows.exe"
  Delete "$INSTDIR\grkpage-to-dos.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\README-el.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
