; An installer that bundles svcentry.exe and registers the gds_db service
; while installing. Build it with makensis in the directory that holds
; svcentry.exe. svcentry.exe runs without a console window; its message
; goes to the installer's details list and, when it fails, into the box that
; says why the installer stops.
!include LogicLib.nsh
!include TextFunc.nsh
!include x64.nsh

Name "Example"
OutFile "example-setup.exe"
; The services file may be written by administrators only.
RequestExecutionLevel admin
AutoCloseWindow true
ShowInstDetails show
Page instfiles

; svcentry.exe is a 64-bit program, and RequestExecutionLevel only asks for
; an administrator: before anything is installed, say which is missing, in
; a box (or, when silent, nowhere), and stop with exit code 2.
Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "The gds_db service cannot be registered: svcentry.exe needs 64-bit Windows." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "The gds_db service cannot be registered: run this installer as an administrator." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Section
  ; svcentry.exe is needed while installing only: it goes to a temporary
  ; directory that is removed when the installer ends.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "svcentry.exe"
  ; Leaves the exit code ("error" when it did not start) on the stack, and
  ; the output beneath it.
  nsExec::ExecToStack '"$PLUGINSDIR\svcentry.exe"'
  Pop $0
  Pop $1
  ${TrimNewLines} "$1" $1
  DetailPrint "svcentry.exe: $1"
  ; Leaves the temporary directory, so that it can be removed at the end,
  ; whatever follows.
  SetOutPath "$TEMP"
  ${If} $0 != 0
    MessageBox MB_ICONSTOP|MB_OK "The gds_db service could not be registered (svcentry.exe exit code: $0).$\r$\n$\r$\n$1" /SD IDOK
    Abort
  ${EndIf}
SectionEnd
