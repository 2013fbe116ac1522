@echo off
rem Starts the self-test that lies beside this file and hands back its exit
rem code; the checks and the report are the program's.
"%~dp0svcentry_selftest.exe" %*
exit /b %errorlevel%
