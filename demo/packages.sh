# Sourced: assembles the two demo packages from the build, for the demo, for
# `make dist` (as examples) and for the test of the README's command lines,
# so that all three show the same packages.
#   assemble_firmware_package ROOT BUILD DEST  the flash product's package: setup.dll,
#                                              package definition, firmware image
#   add_simulator ROOT BUILD DEST              the vendor tool's simulator as
#                                              mnv_cli.exe beside its scenario
#   assemble_driver_package ROOT BUILD DEST    a legacy driver package: the framework's
#                                              plug-in as setup.dll, install.xml, INF, driver
#   remove_demo_driver                         what installing the driver package left
#                                              (needs WINE and WINEPREFIX)

assemble_firmware_package() {
  mkdir -p "$3"
  cp "$2/src/plugin/setup.dll" "$1/demo/package/kx012345.xml" "$1/demo/package/fw_2.4.10.bin" "$3/"
}

add_simulator() {
  mkdir -p "$3"
  cp "$2/tools/mnv-sim/mnv_sim.exe" "$3/mnv_cli.exe"
  cp "$1/demo/package/mnv_sim.ini" "$3/"
}

assemble_driver_package() {
  mkdir -p "$3"
  cp "$2/src/plugin/framework_setup.dll" "$3/setup.dll"
  cp -r "$1/demo/driver-package/." "$3/"
}

remove_demo_driver() {
  "$WINE" sc delete TzrDemoDriver >/dev/null 2>&1 || true
  "$WINE" reg delete 'HKLM\Software\TzrDemoDriver' /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/drive_c/windows/system32/drivers/tzrdemo.sys"
}
