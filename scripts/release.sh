#!/usr/bin/env bash
# Builds both Windows programs and packs the release zip:
#   build/release/LumarisUpdate-<version>.zip
#     x86/LumarisUpdate.exe   (preset win32)
#     x64/LumarisUpdate.exe   (preset win64)
#     README.txt              (app/README-users.txt)
# Each program must import only Windows' own DLLs.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

scripts/install-deps.sh windows >/dev/null
command -v zip >/dev/null || scripts/install-deps.sh wine

version=$(sed -n 's/^project(LumarisUpdate VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no project version in CMakeLists.txt" >&2; exit 1; }
name=LumarisUpdate-$version
stage=$ROOT/build/release/$name
rm -rf "$stage" "$ROOT/build/release/$name.zip"
mkdir -p "$stage"

for pair in win32:x86:i686 win64:x64:x86_64; do
  IFS=: read -r preset folder triplet <<<"$pair"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target LumarisUpdate -- -j2 >/dev/null
  cmake --install "build/$preset" --component program --prefix "$stage/$folder" >/dev/null
  # Only Windows' own DLLs: the program is linked statically.
  imports=$("$triplet-w64-mingw32-objdump" -p "$stage/$folder/LumarisUpdate.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for dll in $imports; do
    case "$dll" in
      kernel32.dll|user32.dll|gdi32.dll|msvcrt.dll|advapi32.dll|shell32.dll|comctl32.dll) ;;
      *) echo "release: $folder/LumarisUpdate.exe imports $dll" >&2; exit 1 ;;
    esac
  done
  echo "release: $folder/LumarisUpdate.exe imports $(echo $imports)"
done

# Text files for Windows users end their lines with CR LF.
sed 's/$/\r/' app/README-users.txt >"$stage/README.txt"
(cd "$ROOT/build/release" && TZ=UTC find "$name" -exec touch -d "@$(git -C "$ROOT" log -1 --format=%ct)" {} + &&
   zip -q -X -r "$name.zip" "$name")
echo "release: build/release/$name.zip"
unzip -l "$ROOT/build/release/$name.zip"
