@echo off
rem Registers the gds_db service; svcentry.exe lies beside this file.
"%~dp0svcentry.exe"
if not "%errorlevel%"=="0" (
  >&2 echo The gds_db service could not be registered.
  exit /b 1
)
