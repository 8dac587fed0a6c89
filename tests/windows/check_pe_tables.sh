#!/bin/sh
# Checks the import and export tables of the Windows files:
#   check_pe_tables.sh objdump VEK.DLL vekconv.exe
# - both import from system DLLs only (the compiler's run-time libraries are
#   linked in, so nothing else has to be shipped beside them);
# - VEK.DLL is named VEK.DLL and exports exactly VEK_Constructor and
#   VEK_Destructor, under those plain names.
set -eu
objdump=$1
dll=$2
exe=$3
status=0

# The DLLs present on every Windows installation that these files may use.
system_dlls="kernel32.dll user32.dll msvcrt.dll advapi32.dll ntdll.dll"

for file in "$dll" "$exe"; do
  imports=$("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  if [ -z "$imports" ]; then
    echo "$file: no import table found"
    status=1
  fi
  for name in $imports; do
    case " $system_dlls " in
      *" $name "*) ;;
      *) echo "$file imports $name, which is not a system DLL"; status=1 ;;
    esac
  done
done

dump=$("$objdump" -p "$dll")
name=$(printf '%s\n' "$dump" | sed -n 's/^Name[[:space:]]*[0-9a-f]*[[:space:]]*//p' | head -n 1)
if [ "$name" != "VEK.DLL" ]; then
  echo "$dll: the export table names the library '$name', not VEK.DLL"
  status=1
fi
exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | sort)
expected=$(printf 'VEK_Constructor\nVEK_Destructor\n')
if [ "$exports" != "$expected" ]; then
  echo "$dll exports:"
  printf '%s\n' "$exports"
  echo "expected exactly VEK_Constructor and VEK_Destructor"
  status=1
fi
[ $status -eq 0 ] && echo "import and export tables as expected"
exit $status
