; The Windows setup, grkpage-VERSION-setup.exe: installs grkpage for the
; current user alone, without asking for an administrator, into
; %LOCALAPPDATA%\Programs\grkpage (/D= changes it); puts that folder on the
; user's PATH once; adds a Send To entry for each direction and a Start menu
; folder; and leaves an uninstaller that "Apps & features" lists. It speaks
; Greek or English, by the system's language, and runs silently with /S.
; Running it again, of the same or a newer version, replaces the files and
; keeps one PATH entry and one set of shortcuts, in the folder it installed
; into, whatever the user saved there; run with another folder, it moves the
; install there. Its own files are those it lists, in the folder its record
; names: it never writes into another folder that holds anything, whatever
; the names: it makes a grkpage folder of its own below it, or refuses. It
; records the folders it made and the PATH entry it added, and its
; uninstaller takes out exactly that entry, the files it lists and the
; folders it made, each once empty. Exit codes, for /S: 0 done; 2 refused,
; nothing changed (a folder holding others' files; a /D= that is not a full
; path, cannot be read, names a file or holds `;`); 3 installed, but the PATH
; left as it was (a Path that is not text, or would pass 32,767 characters);
; 4 refused while grkpage runs from the install (the uninstaller too).
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
!include LogicLib.nsh

Name "grkpage ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\grkpage"
; Where an earlier setup put it, unless /D= names another folder.
InstallDirRegKey HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\grkpage" "InstallLocation"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\grkpage"
; Setup's record of the install: the folder (InstallLocation) and the first
; folder it made on the way there (FoldersMade, empty when there was none to
; make). 1.0's uninstaller deletes the uninstall key alone, so the record
; outlives what it leaves behind, as it outlives an uninstaller run in place
; that could not take itself away.
!define RECORD_KEY "Software\grkpage"

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
LangString Unreadable ${LANG_ENGLISH} "Setup cannot read the folder after /D=. Write /D= and the folder last, as /D=C:\My Tools\grkpage, or both in quotes, as $\"/D=C:\My Tools\grkpage$\"."
LangString Unreadable ${LANG_GREEK} "Το πρόγραμμα εγκατάστασης δεν μπορεί να διαβάσει τον φάκελο μετά το /D=. Γράψτε το /D= και τον φάκελο στο τέλος, όπως /D=C:\My Tools\grkpage, ή και τα δύο μέσα σε εισαγωγικά, όπως $\"/D=C:\My Tools\grkpage$\"."
LangString IsFile ${LANG_ENGLISH} "$R5 is a file, not a folder: setup cannot install into $INSTDIR. Choose a folder."
LangString IsFile ${LANG_GREEK} "Το $R5 είναι αρχείο, όχι φάκελος: το πρόγραμμα εγκατάστασης δεν μπορεί να εγκαταστήσει στο $INSTDIR. Επιλέξτε φάκελο."
LangString Semicolon ${LANG_ENGLISH} "A folder whose name holds a semicolon (;) cannot go on the PATH: it would be read as two folders. Choose another folder."
LangString Semicolon ${LANG_GREEK} "Ένας φάκελος που στο όνομά του έχει τον χαρακτήρα ; δεν μπορεί να μπει στο PATH: θα διαβαζόταν ως δύο φάκελοι. Επιλέξτε άλλον φάκελο."

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

; Sets $0 to 1 when folder $R9 holds anything and is not the install on
; record, $R8: a folder holding the user's own grkpage.exe or README.txt is
; the user's. Names compare in any letter case, as Windows compares them.
Function HoldsOthers
  StrCpy $0 0
  ${If} $R9 == $R8
    Return
  ${EndIf}
  ClearErrors
  FindFirst $1 $2 "$R9\*.*"
  ${If} ${Errors}
    Return
  ${EndIf}
  ${DoWhile} $2 != ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
      StrCpy $0 1
      ${Break}
    ${EndIf}
    FindNext $1 $2
  ${Loop}
  FindClose $1
FunctionEnd

; Sets $R5 to the nearest folder on $INSTDIR's path that is there, and $R4 to
; the first folder below it that setup makes, or to nothing when $INSTDIR is
; there. Refuses, exit code 2, a folder whose name holds `;`, and a path
; where a file stands in place of a folder.
Function MustBeUsable
  StrCpy $R5 $INSTDIR
  StrCpy $R4 ""
  Push $INSTDIR
  Push ";"
  Call Holds
  Pop $0
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONSTOP "$(Semicolon)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${Do}
    ${If} ${FileExists} "$R5\*.*"
      ${Break}
    ${EndIf}
    ${If} ${FileExists} "$R5"
      MessageBox MB_OK|MB_ICONSTOP "$(IsFile)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    StrCpy $R4 $R5
    ${GetParent} $R5 $R5
  ${LoopUntil} $R5 == ""
FunctionEnd

; Pops a character, then a text; pushes 1 when the text holds it, else 0.
Function Holds
  Exch $1 ; the character
  Exch
  Exch $2 ; the text
  Push $3
  Push $4
  StrCpy $4 0
  ${Do}
    StrCpy $3 $2 1 $4
    ${If} $3 == ""
      StrCpy $3 0
      ${Break}
    ${ElseIf} $3 == $1
      StrCpy $3 1
      ${Break}
    ${EndIf}
    IntOp $4 $4 + 1
  ${Loop}
  StrCpy $1 $3
  Pop $4
  Pop $3
  Pop $2
  Exch $1
FunctionEnd

; The PATH entry setup added, into $R7, or nothing: PathEntry, the folder as
; text; before it, 1.0's PathEntryAdded, a 1 for the install's own folder, or
; the folder as text where 1.1 at first wrote it there. Both are written, as
; 1.0's uninstaller reads PathEntryAdded as a number: after a downgrade, it
; takes the entry out.
!macro ReadPathEntry UN
Function ${UN}ReadPathEntry
  ReadRegStr $R7 HKCU "${UNINSTALL_KEY}" "PathEntry"
  ${If} $R7 == ""
    ReadRegStr $R7 HKCU "${UNINSTALL_KEY}" "PathEntryAdded"
    ${If} $R7 == "1"
      StrCpy $R7 $INSTDIR
    ${EndIf}
  ${EndIf}
FunctionEnd
!macroend
!insertmacro ReadPathEntry ""
!insertmacro ReadPathEntry "un."

; Removes folder $R7 once empty, and the folders above it that setup made for
; it, up to the first it recorded, each once empty; one that was there before
; setup stays. 1.0 and 1.1 recorded none: their install's folder alone.
!macro RemoveFolders UN
Function ${UN}RemoveFolders
  ClearErrors
  ReadRegStr $R5 HKCU "${RECORD_KEY}" "InstallLocation"
  ReadRegStr $R6 HKCU "${RECORD_KEY}" "FoldersMade"
  ${If} ${Errors}
  ${OrIf} $R5 != $R7
    StrCpy $R6 $R7
  ${EndIf}
  ${If} $R6 == ""
    Return
  ${EndIf}
  StrCpy $R5 $R7
  ${Do}
    RMDir $R5
    ${If} $R5 == $R6
      ${Break}
    ${EndIf}
    ${GetParent} $R5 $R5
  ${LoopUntil} $R5 == ""
FunctionEnd
!macroend
!insertmacro RemoveFolders ""
!insertmacro RemoveFolders "un."

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

; /D= is read from the command line as Windows has it: NSIS takes only an
; unquoted /D= at the very end, and drops a value it finds invalid. Taken:
; /D=FOLDER, last; /D="FOLDER"; "/D=FOLDER", quoted whole as PowerShell and
; deployment tools pass it; forward slashes. Anything else is refused, exit
; code 2, never replaced with the default folder. Without /D=, the folder on
; record.
Function .onInit
  System::Call 'kernel32::GetCommandLineW() t .R0'
  StrLen $R4 $R0
  ${Do}
    IntOp $R4 $R4 - 1
    ${If} $R4 < 1
      ReadRegStr $R1 HKCU "${RECORD_KEY}" "InstallLocation"
      ${If} $R1 != ""
        StrCpy $INSTDIR $R1
      ${EndIf}
      Return
    ${EndIf}
    StrCpy $R2 $R0 3 $R4
    ${If} $R2 S== "/D="
      IntOp $R3 $R4 - 1
      StrCpy $R2 $R0 1 $R3
      ${If} $R2 == " "
        StrCpy $R5 plain
        ${Break}
      ${EndIf}
      IntOp $R3 $R4 - 2
      StrCpy $R2 $R0 2 $R3
      ${If} $R2 == ' "'
        StrCpy $R5 whole
        ${Break}
      ${EndIf}
    ${EndIf}
  ${Loop}
  IntOp $R4 $R4 + 3
  StrCpy $R1 $R0 "" $R4
  StrCpy $R2 $R1 1
  ${If} $R5 == plain
  ${AndIf} $R2 == '"'
    StrCpy $R1 $R1 "" 1
    StrCpy $R5 whole
  ${EndIf}
  ${If} $R5 == whole ; up to the closing quote
    StrCpy $R4 0
    ${Do}
      StrCpy $R2 $R1 1 $R4
      ${If} $R2 == ""
        Goto unreadable
      ${EndIf}
      ${If} $R2 == '"'
        ${Break}
      ${EndIf}
      IntOp $R4 $R4 + 1
    ${Loop}
    StrCpy $R1 $R1 $R4
  ${EndIf}
  ; Forward slashes for backslashes, and no trailing space or backslash.
  StrCpy $R3 ""
  StrCpy $R4 0
  ${Do}
    StrCpy $R2 $R1 1 $R4
    ${If} $R2 == ""
      ${Break}
    ${ElseIf} $R2 == "/"
      StrCpy $R2 "\"
    ${EndIf}
    StrCpy $R3 "$R3$R2"
    IntOp $R4 $R4 + 1
  ${Loop}
  StrCpy $R1 $R3
  ${Do}
    StrCpy $R2 $R1 1 -1
    ${If} $R2 != " "
      ${Break}
    ${EndIf}
    StrCpy $R1 $R1 -1
  ${Loop}
  ${Do}
    StrCpy $R2 $R1 1 -1
    StrLen $R3 $R1
    ${If} $R2 != "\"
    ${OrIf} $R3 <= 3
      ${Break}
    ${EndIf}
    StrCpy $R1 $R1 -1
  ${Loop}
  Push $R1
  Push '"'
  Call Holds
  Pop $R2
  ${If} $R2 == 1
    Goto unreadable
  ${EndIf}
  StrCpy $R2 $R1 2 1
  StrCpy $R3 $R1 2
  ${If} $R2 != ":\"
  ${AndIf} $R3 != "\\"
    MessageBox MB_OK|MB_ICONSTOP "$(NotFull)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  StrCpy $INSTDIR $R1
  Return
  unreadable:
    MessageBox MB_OK|MB_ICONSTOP "$(Unreadable)" /SD IDOK
    SetErrorLevel 2
    Quit
FunctionEnd

Section
  SetShellVarContext current
  InitPluginsDir
  File "/oname=$PLUGINSDIR\grkpage-path.exe" "${FILES}\grkpage-path.exe"
  ; The install on record: setup's own record, else 1.0's and 1.1's
  ; uninstall key.
  ReadRegStr $R8 HKCU "${RECORD_KEY}" "InstallLocation"
  ${If} $R8 == ""
    ReadRegStr $R8 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  Call MustBeUsable
  ; Any other folder that holds anything gets a grkpage folder of setup's own.
  StrCpy $R9 "$INSTDIR"
  Call HoldsOthers
  ${If} $0 == 1
    StrCpy $INSTDIR "$INSTDIR\grkpage"
    Call MustBeUsable
    StrCpy $R9 "$INSTDIR"
    Call HoldsOthers
    ${If} $0 == 1
      MessageBox MB_OK|MB_ICONSTOP "$(NotOurs)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
  ; One install for the user: one elsewhere goes first, by its own
  ; uninstaller, and what an earlier uninstaller left of it (itself, or files
  ; 1.0's did not know) with it.
  ${If} $R8 != ""
  ${AndIf} $R8 != $INSTDIR
    ${If} ${FileExists} "$R8\uninstall.exe"
      ExecWait '"$R8\uninstall.exe" /S _?=$R8' $0
      ${If} $0 != 0
        SetErrorLevel $0 ; it said why
        Quit
      ${EndIf}
    ${EndIf}
    !define DeleteLeft "!insertmacro DeleteLeft"
    !macro DeleteLeft NAME
      Delete "$R8\${NAME}"
    !macroend
    !insertmacro InstalledFiles "${DeleteLeft}"
    !undef DeleteLeft
    StrCpy $R7 $R8
    Call RemoveFolders
    DeleteRegKey HKCU "${RECORD_KEY}"
    StrCpy $R8 ""
  ${EndIf}
  ; The folders setup makes, recorded for the uninstaller: over the install
  ; on record, what it recorded (1.0 and 1.1 recorded nothing: the folder).
  ${If} $R8 == $INSTDIR
    ClearErrors
    ReadRegStr $R4 HKCU "${RECORD_KEY}" "FoldersMade"
    ${If} ${Errors}
      StrCpy $R4 $INSTDIR
    ${EndIf}
  ${Else}
    Call MustBeUsable
  ${EndIf}
  !insertmacro ProgramsMustBeFree ""
  SetOutPath "$INSTDIR"
  WriteRegStr HKCU "${RECORD_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${RECORD_KEY}" "FoldersMade" "$R4"
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
  ; setup recorded it.
  Call ReadPathEntry
  DeleteRegValue HKCU "${UNINSTALL_KEY}" "PathEntry"
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
    WriteRegStr HKCU "${UNINSTALL_KEY}" "PathEntry" "$INSTDIR"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "PathEntryAdded" 1
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
  ; The entry setup added, and only while it is there.
  Call un.ReadPathEntry
  ; The value goes with the entry only if setup made it.
  ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "PathValueMade"
  StrCpy $2 remove
  StrCmp $1 1 0 +2
    StrCpy $2 remove-made
  StrCmp $R7 "" +3
    nsExec::Exec '"$PLUGINSDIR\grkpage-path.exe" $2 "$R7"'
    Pop $0
  !insertmacro RemoveShortcuts
  !define DeleteOurs "!insertmacro DeleteOurs"
  !macro DeleteOurs NAME
    Delete "$INSTDIR\${NAME}"
  !macroend
  !insertmacro InstalledFiles "${DeleteOurs}"
  ; Run in place (_?=, to be waited for), the uninstaller cannot delete
  ; itself: it moves to its plug-ins folder in %TEMP%, where the copy that
  ; runs without _?= sits too. Where it cannot (%TEMP% on another drive), it
  ; stays, and the record with it, so that the next setup knows it for its own.
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    Rename "$INSTDIR\uninstall.exe" "$PLUGINSDIR\uninstall.exe"
  ${EndIf}
  StrCpy $R7 $INSTDIR
  Call un.RemoveFolders
  ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe"
    DeleteRegKey HKCU "${RECORD_KEY}"
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
