#!/usr/bin/env bash
# The installer under Wine, in a fresh prefix of its own: silent install,
# which starts nothing (Wine has no shell whose rights Kestrix could be
# started with), Kestrix started from the Start menu, the add-ons listed by
# the program's directory from another process, the shortcut and the
# uninstall entry; an upgrade while Kestrix runs; a silent uninstall that
# leaves nothing of ours but the user's settings and the recovery pictures;
# a silent install whose registration fails.
set -euo pipefail
build="$(cd "$1" && pwd)"
export KESTRIX_BUILD="$build"
source "$(dirname "$0")/../../scripts/wine-env.sh"
kestrix_use_prefix test
kestrix_session_env || { echo "no test session" >&2; exit 1; }
setup="$build/bin/KestrixSetup.exe"
[ -f "$setup" ] || { echo "FAIL: $setup was not built (is makensis installed?)"; exit 1; }

export WINEPREFIX="$build/wineprefix-installer"
kestrix_end_with 'wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true'
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
wineserver -w

fail=0
check() {  # check WHAT COMMAND...
  local what="$1" rc=0; shift
  "$@" || rc=$?
  if [ $rc = 0 ]; then echo "ok   $what"; else echo "FAIL $what (exit code $rc)"; fail=1; fi
}
# A registry value as reg.exe prints it, or nothing.
regval() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
client() { wine "$build/bin/kestrix_client.exe" "$@" 2>/dev/null | tr -d '\r' || true; }
# Live Kestrix processes of this prefix (an ended one may linger as a zombie).
kestrix_pids() {
  local pid
  for pid in $(ps -eo pid=,stat=,args= | awk '$2 !~ /^Z/ && /Programs.Kestrix.kestrix\.exe/ { print $1 }'); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}
# Polls until the command succeeds, for up to 30 s.
wait_for() { for _ in $(seq 1 300); do "$@" && return 0; sleep 0.1; done; return 1; }
# The same, once a second for up to a minute, for checks that take a while
# (a program started through the shell may take long on a busy machine).
wait_slowly() { for _ in $(seq 1 60); do "$@" && return 0; sleep 1; done; return 1; }
no_kestrix() { [ -z "$(kestrix_pids)" ]; }
some_kestrix() { [ -n "$(kestrix_pids)" ]; }
# Every process of the prefix has ended: nothing was left running.
all_ended() { timeout 60 wineserver -w; }
menu="$(echo "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs)"
# As the user starts it.
start_from_menu() { wine start /unix "$menu/Kestrix.lnk" >/dev/null 2>&1; }

# What the installation registers, as an export of the registry spells it.
ours=(EC4EEBF1-28C8-40FC-80A5-C1438CD9A240 8ADBCEE3-9F03-409B-989D-BF3CA9CE9EC9
      EBF88A31-EC36-482D-8518-3E012816A534 B89D3E6A-42EA-4D2E-BB5E-65C405F1603E
      3EFAB412-8F9C-4AE4-8E23-3A1187DF17B5 EB2E2FCC-DE77-4560-AD4C-F16486D5819B
      9CD8989D-03B1-4119-9345-7E6178112548 'Kestrix\.SaveToFile' 'Kestrix\.OpenInEditor'
      'Kestrix\.KestrixObject' 'Uninstall\\Kestrix\]')
registered() {  # the patterns of ours found in the live registry (Kestrix may run)
  local p root text=""
  for root in HKEY_CLASSES_ROOT HKEY_CURRENT_USER; do
    rm -f "$WINEPREFIX/drive_c/registry.reg"
    wine regedit /E 'C:\registry.reg' "$root" >/dev/null 2>&1 || true
    text+="$(iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/registry.reg" 2>/dev/null)"
  done
  for p in "${ours[@]}"; do
    grep -aqiE "$p" <<<"$text" && echo "$p"
  done
  return 0
}

save_id='{EC4EEBF1-28C8-40FC-80A5-C1438CD9A240}'
editor_id='{EBF88A31-EC36-482D-8518-3E012816A534}'
uninst='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrix'

all_registered() { test "$(registered | wc -l)" -eq ${#ours[@]}; }

# ---- install ------------------------------------------------------------
check "silent install ends with 0" wine "$setup" /S
# Without the shell's rights, no start with the installer's own (elevated
# under Wine) rights either.
check "the installer starts nothing" all_ended
check "no Kestrix runs" no_kestrix
# Kestrix registers itself at its first start.
start_from_menu
check "Kestrix starts from the Start menu" wait_slowly some_kestrix
check "everything is registered" wait_slowly all_registered
dir="$(echo "$WINEPREFIX"/drive_c/users/*/AppData/Local/Programs/Kestrix)"
for f in kestrix.exe KestrixSaveToFile.dll KestrixOpenInEditor.dll uninstall.exe; do
  check "installed $f" test -f "$dir/$f"
done
check "Start-menu shortcut" test -f "$menu/Kestrix.lnk"
check "uninstall entry: name" test "$(regval "$uninst" DisplayName)" = Kestrix
check "uninstall entry: publisher" test "$(regval "$uninst" Publisher)" = Orvane
check "uninstall entry: version" test -n "$(regval "$uninst" DisplayVersion)"
check "uninstall entry: icon" grep -q 'kestrix.exe,0' <<<"$(regval "$uninst" DisplayIcon)"
check "uninstall entry: size" test "$(( $(regval "$uninst" EstimatedSize) ))" -gt 100

# ---- the program lists both add-ons to another process ----------------------
list="$(client list)"
check "the directory lists Save to file" grep -qi "$save_id" <<<"$list"
check "the directory lists Open in image editor" grep -qi "$editor_id" <<<"$list"
check "another process gets the Save to file plug-in" grep -q "Save to file" <<<"$(client plugin "$save_id")"
check "another process gets the Open in image editor plug-in" grep -q "Open in image editor" <<<"$(client plugin "$editor_id")"

# ---- upgrade while Kestrix runs ---------------------------------------------
old="$(kestrix_pids)"
check "upgrade ends with 0" wine "$setup" /S
gone() { ! grep -qx "$old" <<<"$(kestrix_pids)"; }
check "the running Kestrix was asked to exit" wait_for gone
check "the upgrade starts nothing either" all_ended
check "the upgrade replaced the program" cmp -s "$build/bin/kestrix.exe" "$dir/kestrix.exe"
start_from_menu
check "Kestrix runs again from the Start menu" wait_slowly some_kestrix
check "the add-ons are still listed" grep -qi "$save_id" <<<"$(client list)"

# ---- uninstall ----------------------------------------------------------------
wine reg add 'HKCU\Software\Orvane\Kestrix' /v QuickMode /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Orvane\Kestrix' /v MaxHistorySteps /t REG_DWORD /d 7 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Orvane\Kestrix' /v LeaveInClipboard /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Kestrix /t REG_SZ /d 'C:\x\kestrix.exe' /f >/dev/null 2>&1
temp="$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")"
mkdir -p "$temp/Kestrix" && echo picture >"$temp/Kestrix/Kestrix 1.png"
# Kestrix looks at its recovery folder only as it starts.
recovery="$(echo "$WINEPREFIX"/drive_c/users/*/AppData/Local)/Kestrix/Recovery"
mkdir -p "$recovery" && echo picture >"$recovery/Picture-20240101-120000-1-1.bmp"
check "silent uninstall ends with 0" wine "$dir/uninstall.exe" /S
# The uninstaller runs on from a copy of itself: wait for every process.
wineserver -w
check "Kestrix has exited" no_kestrix
check "no installed file is left" test ! -e "$dir"
check "no shortcut is left" test -z "$(find "$WINEPREFIX/drive_c/users" -name 'Kestrix.lnk')"
left="$(registered)"
check "no registration of ours is left" test -z "$left"
check "no picture of Open in image editor is left" test ! -e "$temp/Kestrix"
check "the recovery folder's pictures are kept" test -f "$recovery/Picture-20240101-120000-1-1.bmp"
rm -rf "$recovery"
check "no autorun value is left" test -z "$(regval 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' Kestrix)"
[ -z "$left" ] || echo "$left"
settings="$(sed -n '/^\[Software\\\\Orvane\\\\Kestrix\]/,/^$/p' "$WINEPREFIX/user.reg")"
check "the settings are kept" grep -q '"QuickMode"=dword:00000001' <<<"$settings"
check "MaxHistorySteps is kept" grep -q '"MaxHistorySteps"=dword:00000007' <<<"$settings"
check "LeaveInClipboard is kept" grep -q '"LeaveInClipboard"=dword:00000001' <<<"$settings"

# ---- a registration that fails holds no silent install ----------------------
# The type library may not be written: Kestrix, started from the Start
# menu, says so in a message box of its own, which nobody answers here.
typelib='TypeLib\{EB2E2FCC-DE77-4560-AD4C-F16486D5819B}'
wine "$build/bin/key_dacl.exe" "$typelib\\1.0" 'D:(D;;0x0006;;;WD)(A;;KA;;;WD)'
rc=0
timeout 60 wine "$setup" /S || rc=$?
check "a silent install whose registration fails ends in time with 0" test $rc = 0
check "the installed program is there" test -f "$dir/kestrix.exe"
start_from_menu
message_shown() { xdotool search --onlyvisible --name '^Kestrix$' >/dev/null 2>&1; }
check "Kestrix says in its own window that it cannot register" wait_slowly message_shown
# The user closes the message; the key goes back to normal.
for pid in $(kestrix_pids); do kill "$pid" 2>/dev/null || true; done
wait_for no_kestrix || true
wine "$build/bin/key_dacl.exe" "$typelib\\1.0" 'D:(A;;KA;;;WD)'
wine reg delete "HKCR\\$typelib" /f >/dev/null 2>&1 || true
check "its silent uninstall ends with 0" wine "$dir/uninstall.exe" /S
wineserver -w
check "no installed file is left after it" test ! -e "$dir"
check "no shortcut is left after it" test -z "$(find "$WINEPREFIX/drive_c/users" -name 'Kestrix.lnk')"
# The refused type library is the program's own half registration (its
# interfaces name the library), which no unregistration can find; everything
# else goes.
left="$(registered | grep -v EB2E2FCC || true)"
check "no registration of ours is left after it" test -z "$left"
[ -z "$left" ] || echo "$left"
exit $fail
