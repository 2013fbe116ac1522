; An installer that bundles svcentry.exe and registers the gds_db service
; while installing. Build it with makensis in the directory that holds
; svcentry.exe. It stops, and says why, when svcentry.exe reports a failure.
Target amd64-unicode
!include LogicLib.nsh

Name "Example"
OutFile "example-setup.exe"
; The services file may be written by administrators only.
RequestExecutionLevel admin
AutoCloseWindow true
Page instfiles

Section
  ; svcentry.exe is needed while installing only: it goes to a temporary
  ; directory that is removed when the installer ends.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "svcentry.exe"
  ClearErrors
  ExecWait '"$PLUGINSDIR\svcentry.exe"' $0
  ${If} ${Errors}
    StrCpy $0 "none, it did not start"
  ${EndIf}
  ; Leaves the temporary directory, so that it can be removed at the end,
  ; whatever follows.
  SetOutPath "$TEMP"
  ${If} $0 != 0
    MessageBox MB_ICONSTOP|MB_OK "The gds_db service could not be registered (svcentry.exe exit code: $0)." /SD IDOK
    Abort
  ${EndIf}
SectionEnd
