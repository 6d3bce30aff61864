@echo off
rem Detection for Configuration Manager and Intune (a script detection rule,
rem run by cmd.exe): asks the package's own plug-in for its install state.
rem
rem   detect.cmd [PACKAGE_FOLDER [TZRHOST_EXE]]
rem
rem Defaults: the folder "package" and tzrhost.exe beside this script.
rem Installed (install state 1, same version, or 3, a newer version): prints
rem "installed" and exits 0. Not installed (any other state): prints nothing
rem and exits 0. The host failing (plug-in not loadable, bad command line):
rem prints the reason to standard error and exits with the host's code, so
rem the engine reports a detection error instead of installing blindly.
setlocal
set "PACKAGE=%~dp0package"
set "HOST=%~dp0tzrhost.exe"
if not "%~1"=="" set "PACKAGE=%~1"
if not "%~2"=="" set "HOST=%~2"
set "ANSWER=%TEMP%\tzr-detect-%RANDOM%%RANDOM%.txt"

"%HOST%" --property 5 "%PACKAGE%" >"%ANSWER%" 2>&1
set "CODE=%ERRORLEVEL%"
if not "%CODE%"=="0" (
  type "%ANSWER%" 1>&2
  del "%ANSWER%" >nul 2>&1
  exit /b %CODE%
)

rem The report's line for property 5:
rem   [5] install state    result 1  state 1 (installed, same version)  message "..."
set "STATE="
for /f "usebackq tokens=1,7" %%a in ("%ANSWER%") do if "%%a"=="[5]" set "STATE=%%b"
del "%ANSWER%" >nul 2>&1

if "%STATE%"=="1" echo installed
if "%STATE%"=="3" echo installed
exit /b 0
