; An installer that bundles svcentry.exe and registers the gds_db service
; before it installs anything. Build it with ISCC in the directory that
; holds svcentry.exe, LICENSE and THIRD-PARTY-NOTICES.txt. svcentry.exe runs
; hidden and its message goes to the setup's log (/LOG). When it fails, setup
; stops before it installs a file, with that message as the reason, and
; exits with code 7.
[Setup]
AppName=Example
AppVersion=1.0
DefaultDirName={autopf}\Example
; The services file may be written by administrators only.
PrivilegesRequired=admin
; svcentry.exe is a 64-bit program.
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
OutputDir=.
OutputBaseFilename=example-setup
DisableProgramGroupPage=yes

[Files]
; Needed while installing only: PrepareToInstall extracts it to {tmp},
; which is removed when setup ends.
Source: "svcentry.exe"; Flags: dontcopy
; The notices that go with the program.
Source: "LICENSE"; DestDir: "{app}"
Source: "THIRD-PARTY-NOTICES.txt"; DestDir: "{app}"

[Code]
// [Run] entries ignore exit codes: the program runs here instead, where a
// failure can stop setup before anything is installed.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  Tool, Message: String;
  Output: TExecOutput;
  ExitCode, Line: Integer;
begin
  ExtractTemporaryFile('svcentry.exe');
  Tool := ExpandConstant('{tmp}\svcentry.exe');
  if not ExecAndCaptureOutput(Tool, '', '', SW_HIDE, ewWaitUntilTerminated,
                              ExitCode, Output) then
  begin
    Result := 'svcentry.exe did not start: ' + SysErrorMessage(ExitCode);
    Exit;
  end;
  Message := '';
  for Line := 0 to GetArrayLength(Output.StdOut) - 1 do
    Message := Message + Output.StdOut[Line];
  if Output.Error then
    Message := Message + ' (its output could not be read whole)';
  Log('svcentry.exe: ' + Message);
  if ExitCode <> 0 then
    Result := 'The gds_db service could not be registered (svcentry.exe ' +
              'exit code: ' + IntToStr(ExitCode) + '). ' + Message;
end;
