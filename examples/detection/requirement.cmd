@echo off
rem The cmd.exe twin of requirement.ps1, for a check by hand or a test.
rem
rem   requirement.cmd [PACKAGE_FOLDER [TZRHOST_EXE]]
rem
rem Prints "Applicable" when a supported controller is present (install
rem state 1, 2, 3 or 5), nothing when not (4, 6); a broken package (7, 8) or a
rem failing host: the report on standard error, exit 1603 or the host's code.
setlocal
set "PACKAGE=%ProgramFiles%\TZR\firmware-package"
set "HOST=%ProgramFiles%\TZR\tzrhost.exe"
if not "%~1"=="" set "PACKAGE=%~1"
if not "%~2"=="" set "HOST=%~2"
set "ANSWER=%TEMP%\tzr-requirement-%RANDOM%%RANDOM%.txt"
"%HOST%" --property 5 "%PACKAGE%" >"%ANSWER%" 2>&1
set "CODE=%ERRORLEVEL%"
set "STATE="
for /f "usebackq tokens=1,7" %%a in ("%ANSWER%") do if "%%a"=="[5]" set "STATE=%%b"
if not "%CODE%"=="0" goto :broken
for %%s in (1 2 3 5) do if "%STATE%"=="%%s" echo Applicable
for %%s in (1 2 3 4 5 6) do if "%STATE%"=="%%s" goto :done
set "CODE=1603"
:broken
type "%ANSWER%" 1>&2
:done
del "%ANSWER%" >nul 2>&1
exit /b %CODE%
