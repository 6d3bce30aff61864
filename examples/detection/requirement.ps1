# Requirement for Configuration Manager (a global condition's script) and
# Intune (a requirement script), Windows PowerShell 5.1, no modules: the
# package applies where a supported controller is present. Needs tzrhost.exe
# and the package folder on the server (it asks the plug-in's install state).
# Prints "Applicable" (states 1, 2, 3, 5) or nothing (no supported
# hardware); a broken package or a failing host exits with the host's code.
$HostExe = "$env:ProgramFiles\TZR\tzrhost.exe"
$Package = "$env:ProgramFiles\TZR\firmware-package"

$answer = & $HostExe --json --property 5 $Package | ConvertFrom-Json
if (-not $answer.install_state -or $answer.install_state.code -ge 7) {
    [Console]::Error.WriteLine("no install state: $($answer.error) $($answer.properties[0].message)")
    exit $(if ($answer.exit) { $answer.exit } else { 1603 })
}
if (@(1, 2, 3, 5) -contains $answer.install_state.code) { 'Applicable' }
exit 0
