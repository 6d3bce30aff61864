# Detection for Configuration Manager and Intune (Windows PowerShell 5.1, no
# modules). Detection runs before the content is downloaded, so it reads the
# install record the plug-in leaves in the registry; where tzrhost.exe and the
# package are kept on the server, the controllers themselves may answer too.
# Installed: prints "Installed", exit 0. Not installed: prints nothing, exit 0.
$PackageName = 'Veyra KB118m Boot Controller Firmware'   # the package definition's English name
$Version     = '2.4.10'                                  # the package definition's version
$HostExe     = "$env:ProgramFiles\TZR\tzrhost.exe"        # optional: host and package kept on the server
$Package     = "$env:ProgramFiles\TZR\firmware-package"

# The record: this version or a newer one.
$record = Get-ItemProperty -Path "HKLM:\SOFTWARE\TZR\NVMeBootController\Packages\$PackageName" -ErrorAction SilentlyContinue
if ($record -and $record.Version -and ([version]$record.Version -ge [version]$Version)) { 'Installed'; exit 0 }

# The controllers: install state 1 (same version) or 3 (newer).
if ((Test-Path $HostExe) -and (Test-Path $Package)) {
    $answer = & $HostExe --json --property 5 $Package | ConvertFrom-Json
    if ($answer.install_state -and @(1, 3) -contains $answer.install_state.code) { 'Installed' }
}
exit 0
