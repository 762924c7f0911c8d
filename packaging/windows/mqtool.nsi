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
; program never creates it) writable for ordinary users. The uninstaller
; removes the program, the shortcut and the entry and keeps the data folder.
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

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${MQ_PRODUCT_NAME} needs 64-bit Windows." /SD IDOK
    SetErrorLevel 4
    Abort
  ${EndIf}
  SetRegView 64
  !insertmacro MQ_REFUSE_WHILE_RUNNING "setup"
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

  ; The data folder: created here because the program never creates it;
  ; ordinary users (Users, S-1-5-32-545) may change what is in it, since
  ; the program writes its settings there when it closes.
  CreateDirectory "$APPDATA\${MQ_DATA_SUBFOLDER}"
  nsExec::ExecToLog 'icacls "$APPDATA\${MQ_DATA_SUBFOLDER}" /grant *S-1-5-32-545:(OI)(CI)M /T /C /Q'
  Pop $0
  ${If} $0 != 0
    DetailPrint "icacls could not make $APPDATA\${MQ_DATA_SUBFOLDER} writable for users (result $0)"
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
