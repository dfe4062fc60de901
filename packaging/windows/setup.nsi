; The Windows setup, grkpage-VERSION-setup.exe: installs grkpage for the
; current user alone, without asking for an administrator, into
; %LOCALAPPDATA%\Programs\grkpage (/D= changes it); puts that folder on the
; user's PATH once; adds a Send To entry for each direction and a Start menu
; folder; and leaves an uninstaller that "Apps & features" lists. It speaks
; Greek or English, by the system's language, and runs silently with /S.
; Running it again, of the same or a newer version, replaces the files and
; keeps one PATH entry and one set of shortcuts; run with another folder, it
; moves the install there. It never writes into a folder that holds files it
; did not put there: it makes a grkpage folder of its own below it, or
; refuses. It records the PATH entry it added, and its uninstaller takes out
; exactly that entry and only the files it lists. Exit codes, for /S: 0 done;
; 2 refused, nothing changed (a folder holding others' files, a /D= that is
; not a full path); 3 installed, but the PATH left as it was (a Path that is
; not text, or would pass 32,767 characters); 4 refused while grkpage runs
; from the install (the uninstaller too).
;   makensis -DVERSION=1.0 -DFILES=DIR -DOUTFILE=PATH [-DTARGET=amd64-unicode] setup.nsi
; DIR holds grkpage.exe, grkpage-detect.exe, the two helpers, grkpage-path.exe, README.txt, its
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
; Where an earlier setup put it, unless /D= names another folder.
InstallDirRegKey HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\grkpage" "InstallLocation"

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
!define UNINSTALL_EL "Κατάργηση εγκατάστασης grkpage"
; What 1.1 and before named it, removed with the rest.
!define UNINSTALL_EL_BEFORE "Απεγκατάσταση grkpage"
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
LangString PathNotText ${LANG_ENGLISH} "Your PATH is not text, so setup left it as it was. Add $INSTDIR to it yourself."
LangString PathNotText ${LANG_GREEK} "Το PATH σας δεν είναι κείμενο, γι’ αυτό το πρόγραμμα εγκατάστασης το άφησε όπως ήταν. Προσθέστε μόνοι σας τον φάκελο $INSTDIR στο PATH."
LangString PathTooLong ${LANG_ENGLISH} "Your PATH would pass the 32,767 characters Windows takes, so setup left it as it was. Add $INSTDIR to it yourself."
LangString PathTooLong ${LANG_GREEK} "Το PATH σας θα ξεπερνούσε τους 32.767 χαρακτήρες που δέχονται τα Windows, γι’ αυτό το πρόγραμμα εγκατάστασης το άφησε όπως ήταν. Προσθέστε μόνοι σας τον φάκελο $INSTDIR στο PATH."
LangString InUse ${LANG_ENGLISH} "grkpage is running from $INSTDIR (in a console, or a Send To window): close it, then press Retry."
LangString InUse ${LANG_GREEK} "Το grkpage εκτελείται από τον φάκελο $INSTDIR (σε κονσόλα ή σε παράθυρο «Αποστολή προς»): κλείστε το και πατήστε «Επανάληψη»."
LangString NotFull ${LANG_ENGLISH} "The folder after /D= must be a full path, such as C:\Tools\grkpage."
LangString NotFull ${LANG_GREEK} "Ο φάκελος μετά το /D= πρέπει να είναι πλήρης διαδρομή, όπως C:\Tools\grkpage."
LangString NotOurs ${LANG_ENGLISH} "$INSTDIR holds files that setup did not put there. Choose another folder."
LangString NotOurs ${LANG_GREEK} "Ο φάκελος $INSTDIR περιέχει αρχεία που δεν έβαλε εκεί το πρόγραμμα εγκατάστασης. Επιλέξτε άλλον φάκελο."

; The files setup puts in its folder, and only those: the uninstaller
; deletes these and no others.
!macro InstalledFiles DO
  ${DO} "grkpage.exe"
  ${DO} "grkpage-detect.exe"
  ${DO} "grkpage-to-windows.exe"
  ${DO} "grkpage-to-dos.exe"
  ${DO} "README.txt"
  ${DO} "README-el.txt"
  ${DO} "LICENSE.txt"
  ${DO} "uninstall.exe"
!macroend

; Sets $0 to 1 when folder $R9 holds anything that setup did not put there:
; a name it does not use, or, in a folder without grkpage.exe, any file at
; all (the user's own README.txt, say).
Function HoldsOthers
  StrCpy $0 0
  StrCpy $3 0
  ClearErrors
  FindFirst $1 $2 "$R9\*.*"
  IfErrors done
  loop:
    StrCmp $2 "" close
    StrCmp $2 "." next
    StrCmp $2 ".." next
    StrCpy $3 1
    !define IsOurs "!insertmacro IsOurs"
    !macro IsOurs NAME
      StrCmp $2 "${NAME}" next
    !macroend
    !insertmacro InstalledFiles "${IsOurs}"
    !undef IsOurs
    StrCpy $0 1
    Goto close
  next:
    FindNext $1 $2
    Goto loop
  close:
    FindClose $1
  done:
  StrCmp $3 1 0 +3
    IfFileExists "$R9\grkpage.exe" +2
      StrCpy $0 1
FunctionEnd

!macro RemoveShortcuts
  Delete "$SENDTO\${TO_WINDOWS_EN}.lnk"
  Delete "$SENDTO\${TO_DOS_EN}.lnk"
  Delete "$SENDTO\${TO_WINDOWS_EL}.lnk"
  Delete "$SENDTO\${TO_DOS_EL}.lnk"
  Delete "$SMPROGRAMS\grkpage\${MANUAL_EN}.lnk"
  Delete "$SMPROGRAMS\grkpage\${MANUAL_EL}.lnk"
  Delete "$SMPROGRAMS\grkpage\${UNINSTALL_EN}.lnk"
  Delete "$SMPROGRAMS\grkpage\${UNINSTALL_EL}.lnk"
  Delete "$SMPROGRAMS\grkpage\${UNINSTALL_EL_BEFORE}.lnk"
  RMDir "$SMPROGRAMS\grkpage"
!macroend

; Stops with exit code 4 while file $R9 is in use (a program of the install
; that runs), after asking to close it: grkpage-path.exe, unpacked first,
; tells.
!macro MustBeFree UN
Function ${UN}MustBeFree
  retry:
  nsExec::Exec '"$PLUGINSDIR\grkpage-path.exe" free "$R9"'
  Pop $0
  StrCmp $0 7 0 free
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(InUse)" /SD IDCANCEL IDRETRY retry
  SetErrorLevel 4
  Quit
  free:
FunctionEnd
!macroend
!insertmacro MustBeFree ""
!insertmacro MustBeFree "un."

!macro ProgramMustBeFree UN NAME
  StrCpy $R9 "$INSTDIR\${NAME}"
  Call ${UN}MustBeFree
!macroend
!macro ProgramsMustBeFree UN
  !insertmacro ProgramMustBeFree "${UN}" "grkpage.exe"
  !insertmacro ProgramMustBeFree "${UN}" "grkpage-detect.exe"
  !insertmacro ProgramMustBeFree "${UN}" "grkpage-to-windows.exe"
  !insertmacro ProgramMustBeFree "${UN}" "grkpage-to-dos.exe"
!macroend

; /D= in quotes, which NSIS would pass over, is taken as the folder meant; one
; that is not a full path is refused. NSIS takes /D= off its own copy of the
; command line, and keeps only a value it finds valid: the command line as
; Windows has it tells what was typed.
Function .onInit
  System::Call 'kernel32::GetCommandLineW() t .R0'
  ; The text after the last " /D=", the end of the command line.
  StrLen $R3 $R0
  StrCpy $R4 $R3
  search:
    IntOp $R4 $R4 - 1
    IntCmp $R4 0 done done
    StrCpy $R2 $R0 4 $R4
    StrCmp $R2 " /D=" 0 search
  IntOp $R4 $R4 + 4
  StrCpy $R1 $R0 "" $R4
  StrCpy $R2 $R1 1
  StrCmp $R2 '"' 0 unquoted
    StrCpy $R1 $R1 "" 1
    StrCpy $R2 $R1 1 -1
    StrCmp $R2 '"' 0 unquoted
      StrCpy $R1 $R1 -1
  unquoted:
  StrCpy $R2 $R1 2 1
  StrCmp $R2 ":\" full
  StrCpy $R2 $R1 2
  StrCmp $R2 "\\" full
    MessageBox MB_OK|MB_ICONSTOP "$(NotFull)" /SD IDOK
    SetErrorLevel 2
    Quit
  full:
  StrCpy $INSTDIR $R1
  done:
FunctionEnd

Section
  SetShellVarContext current
  InitPluginsDir
  File "/oname=$PLUGINSDIR\grkpage-path.exe" "${FILES}\grkpage-path.exe"
  ; A folder that holds others' files gets a grkpage folder of setup's own.
  ReadRegStr $R8 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $R9 "$INSTDIR"
  Call HoldsOthers
  StrCmp $0 1 0 folder_chosen
    StrCpy $INSTDIR "$INSTDIR\grkpage"
    StrCpy $R9 "$INSTDIR"
    Call HoldsOthers
    StrCmp $0 1 0 folder_chosen
      MessageBox MB_OK|MB_ICONSTOP "$(NotOurs)" /SD IDOK
      SetErrorLevel 2
      Quit
  folder_chosen:
  ; One install for the user: one elsewhere goes first, by its own uninstaller.
  StrCmp $R8 "" install_here
  StrCmp $R8 "$INSTDIR" install_here
  IfFileExists "$R8\uninstall.exe" 0 install_here
    ExecWait '"$R8\uninstall.exe" /S _?=$R8' $0
    StrCmp $0 0 +3
      SetErrorLevel $0 ; it said why
      Quit
    Delete "$R8\uninstall.exe"
    RMDir "$R8"
  install_here:
  !insertmacro ProgramsMustBeFree ""
  SetOutPath "$INSTDIR"
  File "${FILES}\grkpage.exe"
  File "${FILES}\grkpage-detect.exe"
  File "${FILES}\grkpage-to-windows.exe"
  File "${FILES}\grkpage-to-dos.exe"
  File "${FILES}\README.txt"
  File "${FILES}\README-el.txt"
  File "${FILES}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The PATH entry setup made is kept, so that uninstalling takes out that
  ; entry alone. An entry there already is setup's own only if an earlier
  ; setup recorded it (1.0 recorded a 1).
  ReadRegStr $R7 HKCU "${UNINSTALL_KEY}" "PathEntryAdded"
  StrCmp $R7 "1" 0 +2
    StrCpy $R7 "$INSTDIR"
  DeleteRegValue HKCU "${UNINSTALL_KEY}" "PathEntryAdded"
  nsExec::Exec '"$PLUGINSDIR\grkpage-path.exe" add "$INSTDIR"'
  Pop $0
  StrCpy $R6 0
  StrCmp $0 0 path_added
  StrCmp $0 6 0 +3
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "PathValueMade" 1
    Goto path_added
  StrCmp $0 3 0 +2
    StrCmp $R7 "$INSTDIR" path_added path_done
  StrCpy $R6 1
  StrCmp $0 4 0 +3
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(PathNotText)" /SD IDOK
    Goto path_done
  StrCmp $0 5 0 +3
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(PathTooLong)" /SD IDOK
    Goto path_done
  MessageBox MB_OK|MB_ICONEXCLAMATION "$(PathFailed)" /SD IDOK
  Goto path_done
  path_added:
    WriteRegStr HKCU "${UNINSTALL_KEY}" "PathEntryAdded" "$INSTDIR"
  path_done:

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
  StrCmp $R6 1 0 +2
    SetErrorLevel 3
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  InitPluginsDir
  File "/oname=$PLUGINSDIR\grkpage-path.exe" "${FILES}\grkpage-path.exe"
  !insertmacro ProgramsMustBeFree "un."
  ; The entry setup added, and only while it is there: 1.0 recorded a 1.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "PathEntryAdded"
  StrCmp $0 "1" 0 +2
    StrCpy $0 "$INSTDIR"
  ; The value goes with the entry only if setup made it.
  ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "PathValueMade"
  StrCpy $2 remove
  StrCmp $1 1 0 +2
    StrCpy $2 remove-made
  StrCmp $0 "" +3
    nsExec::Exec '"$PLUGINSDIR\grkpage-path.exe" $2 "$0"'
    Pop $0
  !insertmacro RemoveShortcuts
  !define DeleteOurs "!insertmacro DeleteOurs"
  !macro DeleteOurs NAME
    Delete "$INSTDIR\${NAME}"
  !macroend
  !insertmacro InstalledFiles "${DeleteOurs}"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
