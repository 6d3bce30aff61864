@echo off
rem The cmd.exe twin of detect.ps1, for a check by hand or a test: the same
rem record and the same host call.
rem
rem   detect.cmd [PACKAGE_FOLDER [TZRHOST_EXE]]
rem
rem Installed (the record names this version or a newer one, or the
rem controllers report install state 1 or 3): prints "Installed", exit 0.
rem Otherwise prints nothing, exit 0. The host failing: its reason on
rem standard error and its exit code.
setlocal
set "NAME=Veyra KB118m Boot Controller Firmware"
set "VERSION=2.4.10"
set "PACKAGE=%ProgramFiles%\TZR\firmware-package"
set "HOST=%ProgramFiles%\TZR\tzrhost.exe"
if not "%~1"=="" set "PACKAGE=%~1"
if not "%~2"=="" set "HOST=%~2"

set "RECORDED="
for /f "tokens=1,2,*" %%a in ('reg query "HKLM\SOFTWARE\TZR\NVMeBootController\Packages\%NAME%" /v Version 2^>nul') do if "%%b"=="REG_SZ" set "RECORDED=%%c"
if defined RECORDED call :atleast "%RECORDED%" "%VERSION%"
if defined RECORDED if "%ATLEAST%"=="1" (echo Installed& exit /b 0)

if not exist "%HOST%" exit /b 0
if not exist "%PACKAGE%" exit /b 0
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
if "%STATE%"=="1" echo Installed
if "%STATE%"=="3" echo Installed
exit /b 0

rem ATLEAST=1 when version %1 is %2 or newer, part by part as numbers.
:atleast
set "ATLEAST=1"
set "DECIDED="
for %%i in (1 2 3 4) do (set "A%%i=" & set "B%%i=")
for /f "tokens=1-4 delims=." %%a in ("%~1") do (
  set "A1=%%a"
  set "A2=%%b"
  set "A3=%%c"
  set "A4=%%d"
)
for /f "tokens=1-4 delims=." %%a in ("%~2") do (
  set "B1=%%a"
  set "B2=%%b"
  set "B3=%%c"
  set "B4=%%d"
)
for %%i in (1 2 3 4) do call :part %%i
exit /b 0
:part
if defined DECIDED exit /b 0
set /a "A=A%1+0, B=B%1+0"
if %A% gtr %B% set "DECIDED=1"
if %A% lss %B% (set "DECIDED=1" & set "ATLEAST=0")
exit /b 0
