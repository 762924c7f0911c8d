; Installer of the Marq Utility for 64-bit Windows. Built by
; scripts/package-windows.sh, which passes:
;   MQ_VERSION_NSH  the version data of the cross build (version/installer_version.nsh:
;                   MQ_VERSION, MQ_PUBLISHER, MQ_PRODUCT_NAME, MQ_COPYRIGHT)
;   MQ_STAGE        folder with mqtool.exe, mqtool-cli.exe, LICENSE.txt,
;                   THIRD-PARTY.txt, guide\ and licences\
;   MQ_OUTFILE      the setup program to write
;   MQ_LICENCE_PAGE the licence page's text: MqTool's licence, then the
;                   third-party notice (UTF-8 with a byte-order mark)
;
; Installs under Program Files\MqTool with a Start-menu shortcut "Marq
; Utility" and an entry in Add/Remove Programs; creates the data folder
; %ProgramData%\Corvane\Ledgerkit\ (settings and translation file; the
; program never creates it) where ordinary users may create files and change
; what is in it, but not the folder itself. It refuses (exit code 5) when
; Corvane or Ledgerkit is a junction or a symbolic link: the grant would
; reach the link's target. The uninstaller removes the program, the
; shortcut and the entry and keeps the data folder.
; Both refuse to run while MqTool (or the sibling scoring program) runs:
; they hold the named mutex "Splashledger". /S runs either silently.
; A 64-bit setup program for a 64-bit program (it also runs where only
; 64-bit Windows programs can, such as a 64-bit-only Wine).
Target amd64-unicode
!include "${MQ_VERSION_NSH}"
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define MQ_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MqTool"
!define MQ_DATA_SUBFOLDER "Corvane\Ledgerkit"
!define MQ_SHORTCUT "Marq Utility.lnk"

Name "${MQ_PRODUCT_NAME}"
OutFile "${MQ_OUTFILE}"
InstallDir "$PROGRAMFILES64\MqTool"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${MQ_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${MQ_PRODUCT_NAME}"
VIAddVersionKey /LANG=1033 "CompanyName" "${MQ_PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${MQ_COPYRIGHT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${MQ_PRODUCT_NAME} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${MQ_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${MQ_VERSION}"

!define MUI_ICON "${MQ_STAGE}\mqtool.ico"
!define MUI_UNICON "${MQ_STAGE}\mqtool.ico"
!insertmacro MUI_PAGE_LICENSE "${MQ_LICENCE_PAGE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Sets $0 to 1 while a program holds the mutex "Splashledger" (it exists,
; whether or not this user may open it), else 0.
!macro MQ_PROGRAM_RUNNING
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Splashledger") p .r1 ?e'
  Pop $2
  StrCpy $0 0
  ${If} $1 P<> 0
    System::Call 'kernel32::CloseHandle(p r1)'
    StrCpy $0 1
  ${ElseIf} $2 = 5
    StrCpy $0 1
  ${EndIf}
!macroend

!macro MQ_REFUSE_WHILE_RUNNING what
  !insertmacro MQ_PROGRAM_RUNNING
  ${If} $0 = 1
    MessageBox MB_OK|MB_ICONSTOP "MqTool or Splashledger is running.$\r$\n$\r$\nClose it, then run the ${what} again." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
!macroend

; Sets $0 to 1 when the path in $1 is a reparse point (a junction or a
; symbolic link: its own attributes, the link is not followed), else 0
; (also when it does not exist).
Function MqIsReparsePoint
  System::Call 'kernel32::GetFileAttributesW(w r1) i .r0'
  ${If} $0 = -1
    StrCpy $0 0
  ${Else}
    IntOp $0 $0 & 0x400
    ${If} $0 <> 0
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; Every user may create folders in %ProgramData%, so Corvane or Ledgerkit
; may be a junction a user made to any folder of the machine; the grant
; below would then be given on that folder. Refuses with exit code 5.
!macro MQ_REFUSE_LINKED_DATA_FOLDER
  StrCpy $1 "$APPDATA\Corvane"
  Call MqIsReparsePoint
  ${If} $0 = 0
    StrCpy $1 "$APPDATA\${MQ_DATA_SUBFOLDER}"
    Call MqIsReparsePoint
  ${EndIf}
  ${If} $0 = 1
    DetailPrint "$1 is a junction or a symbolic link: setup refused"
    MessageBox MB_OK|MB_ICONSTOP "$1 is a junction or a symbolic link, not a folder: setup would give users access to the folder it points to.$\r$\n$\r$\nRemove the link (rmdir $\"$1$\" as an administrator), then run the setup again." /SD IDOK
    SetErrorLevel 5
    Abort
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${MQ_PRODUCT_NAME} needs 64-bit Windows." /SD IDOK
    SetErrorLevel 4
    Abort
  ${EndIf}
  SetRegView 64
  !insertmacro MQ_REFUSE_WHILE_RUNNING "setup"
  SetShellVarContext all
  !insertmacro MQ_REFUSE_LINKED_DATA_FOLDER
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MQ_REFUSE_WHILE_RUNNING "uninstall"
FunctionEnd

Section "Marq Utility" SecMain
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${MQ_STAGE}\mqtool.exe"
  File "${MQ_STAGE}\mqtool-cli.exe"
  File "${MQ_STAGE}\README.txt"
  File "${MQ_STAGE}\LICENSE.txt"
  File "${MQ_STAGE}\THIRD-PARTY.txt"
  SetOutPath "$INSTDIR\guide"
  File /r "${MQ_STAGE}\guide\*.*"
  SetOutPath "$INSTDIR\licences"
  File /r "${MQ_STAGE}\licences\*.*"
  SetOutPath "$INSTDIR"

  ; The data folder: created here because the program never creates it.
  ; Ordinary users (Users, S-1-5-32-545) get Modify on what is in it,
  ; inherited only ((OI)(CI)(IO)), since the program writes its settings
  ; there when it closes, and may create files and folders in it (WD,AD);
  ; the folder itself they may not delete or replace. No /T: what users
  ; put there is theirs, and setup acts on the folder alone. A grant of an
  ; older setup (Modify on the folder itself) is taken back first.
  CreateDirectory "$APPDATA\${MQ_DATA_SUBFOLDER}"
  !insertmacro MQ_REFUSE_LINKED_DATA_FOLDER
  StrCpy $3 0
  nsExec::ExecToLog 'icacls "$APPDATA\${MQ_DATA_SUBFOLDER}" /remove:g *S-1-5-32-545 /Q'
  Pop $0
  IntOp $3 $3 | $0
  nsExec::ExecToLog 'icacls "$APPDATA\${MQ_DATA_SUBFOLDER}" /grant *S-1-5-32-545:(OI)(CI)(IO)M /Q'
  Pop $0
  IntOp $3 $3 | $0
  nsExec::ExecToLog 'icacls "$APPDATA\${MQ_DATA_SUBFOLDER}" /grant *S-1-5-32-545:(WD,AD) /Q'
  Pop $0
  IntOp $3 $3 | $0
  ${If} $3 != 0
    DetailPrint "icacls could not give users access to $APPDATA\${MQ_DATA_SUBFOLDER}"
  ${EndIf}

  CreateShortCut "$SMPROGRAMS\${MQ_SHORTCUT}" "$INSTDIR\mqtool.exe" "" "$INSTDIR\mqtool.exe" 0

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${MQ_UNINSTALL_KEY}" "DisplayName" "${MQ_PRODUCT_NAME}"
  WriteRegStr HKLM "${MQ_UNINSTALL_KEY}" "DisplayVersion" "${MQ_VERSION}"
  WriteRegStr HKLM "${MQ_UNINSTALL_KEY}" "Publisher" "${MQ_PUBLISHER}"
  WriteRegStr HKLM "${MQ_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mqtool.exe,0"
  WriteRegStr HKLM "${MQ_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${MQ_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${MQ_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${MQ_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${MQ_UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${MQ_UNINSTALL_KEY}" "EstimatedSize" ${MQ_SIZE_KB}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${MQ_SHORTCUT}"
  Delete "$INSTDIR\mqtool.exe"
  Delete "$INSTDIR\mqtool-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY.txt"
  RMDir /r "$INSTDIR\guide"
  RMDir /r "$INSTDIR\licences"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${MQ_UNINSTALL_KEY}"
  ; The data folder stays: it holds the users' settings and translations.
SectionEnd
