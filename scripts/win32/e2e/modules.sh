# The module update: single program files of the player replaced in place from one-file
# zip archives, in a background run in which no installer applies.

sample="$e2e_root/tools/server/modules-sample"
module_root=/modules/sample

# A server with the sample's documents (no installer applies; upcfg.xml points at the
# module source) and a module source made from the sample's newer files; the player folder
# holds the sample's installed files. Every domain is that server. The sample's list names
# codec.dll, plugins\subtitle.dll and skin.dat, in that order; skin.dat is up to date.
serve_modules() {
  www="$sandbox/www"
  source_dir="$www$module_root"
  module_list="$source_dir/update.xml"
  mkdir -p "$www"
  cp -r "$sample/www/." "$www/"
  "$linux_bin/OvModuleSource" "$sample/files" "$source_dir" >/dev/null || fail "cannot make the module source"
  cp -r "$sample/installed/." "$player/"
  start_server "$www"
  set_deploy "$server_url" "$server_url" "$server_url" "$server_url"
}

# Digests of every installed file (the working folder left out).
installed_digests() {
  (cd "$player" && find . -type f ! -path './OvUpdate/*' | sort | xargs md5sum)
}
expect_installation_unchanged() {  # digests taken before
  [ "$(installed_digests)" = "$1" ] || fail "the installation changed: $(diff <(echo "$1") <(installed_digests))"
}
expect_no_backups() {
  local left
  left=$(cd "$player" && find . -iname '*.bak' -o -iname '*.old')
  [ -z "$left" ] || fail "backups left in the player folder: $left"
}
expect_agent_ok() { [ "$agent_status" = 0 ] || fail "the agent ended with $agent_status"; }
archive_hits() { server_hits "$module_root/bin/$1.zip"; }

# relist OLD-DIGEST ARCHIVE: the list names the changed archive's new digest.
relist() { sed -i "s/zipmd5=\"$1\"/zipmd5=\"$(md5_of "$2")\"/" "$module_list"; }

# replace_archive MODULE ENTRY DATA [ENTRY DATA...]: the module's archive becomes a zip of
# these entries (DATA "@FILE" is that file's bytes), and the list gets the new archive's
# digest, so the archive itself passes its check.
replace_archive() {
  local archive="$source_dir/bin/$1.zip" old
  shift
  old=$(md5_of "$archive")
  python3 - "$archive" "$@" <<'PY' || fail "cannot write $archive"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    args = sys.argv[2:]
    for name, data in zip(args[0::2], args[1::2]):
        if data.startswith("@"):
            data = open(data[1:], "rb").read()
        z.writestr(zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0)), data)
PY
  relist "$old" "$archive"
}

# set_declared_size MODULE BYTES: the archive's single entry claims to unpack to BYTES (both
# headers patched), as a compression bomb would; the list gets the new archive's digest.
set_declared_size() {
  local archive="$source_dir/bin/$1.zip" old
  old=$(md5_of "$archive")
  python3 - "$archive" "$2" <<'PY' || fail "cannot patch $archive"
import struct, sys
path, size = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
local, central = data.find(b"PK\x03\x04"), data.find(b"PK\x01\x02")
struct.pack_into("<I", data, local + 22, size)
struct.pack_into("<I", data, central + 24, size)
open(path, "wb").write(data)
PY
  relist "$old" "$archive"
}

# The two changed modules (one in a sub-folder) are swapped in, the up-to-date one is not
# fetched, the backups and the working folder are gone afterwards; a second run finds
# nothing to do.
scenario_changed_modules_swapped_in() {
  serve_modules
  local skin
  skin=$(md5_of "$player/skin.dat")
  run_agent
  expect_agent_ok
  expect_lines_in_order "replace new files start" "replace new files success" "replace count 2 success" "静默升级完成"
  cmp -s "$player/codec.dll" "$sample/files/codec.dll" || fail "codec.dll was not replaced"
  cmp -s "$player/plugins/subtitle.dll" "$sample/files/plugins/subtitle.dll" || fail "plugins/subtitle.dll was not replaced"
  [ "$(md5_of "$player/skin.dat")" = "$skin" ] || fail "skin.dat changed"
  [ "$(archive_hits codec.dll)" = 1 ] && [ "$(archive_hits plugins/subtitle.dll)" = 1 ] ||
    fail "each changed module should be fetched once"
  [ "$(archive_hits skin.dat)" = 0 ] || fail "the up-to-date skin.dat was fetched"
  [ ! -e "$player/OvUpdate" ] || fail "the working folder is still there"
  expect_no_backups

  local before
  before=$(log_lines | wc -l)
  run_agent
  expect_agent_ok
  log_lines | tail -n +"$((before + 1))" |
    grep -F "${agent_line_prefix}CheckAndDownloadModulesByList 0 files need update" >/dev/null ||
    fail "the second run should find nothing to update"
  [ "$(archive_hits codec.dll)" = 1 ] || fail "the second run fetched codec.dll again"
  [ ! -e "$player/OvUpdate" ] || fail "the second run left the working folder"
  expect_no_backups
}

# An archive that fails its checks ends the run before anything is swapped: first an
# archive whose unpacked file has another digest than the list says, then one holding two
# files. codec.dll, listed before, has been staged each time but is not swapped in alone.
scenario_bad_archives_leave_installation() {
  serve_modules
  local before
  before=$(installed_digests)
  replace_archive plugins/subtitle.dll subtitle.dll "not the listed subtitle plug-in"
  run_agent
  expect_agent_ok
  expect_line "CheckAndDownloadModulesByList failed"
  expect_line "无需静默下载或静默失败"
  expect_no_line "replace files start"
  expect_installation_unchanged "$before"

  replace_archive plugins/subtitle.dll subtitle.dll "@$sample/files/plugins/subtitle.dll" readme.txt "extra"
  run_agent
  expect_agent_ok
  expect_line_prefix "UnZipOneFile "
  [ "$(log_lines | grep -cxF "${agent_line_prefix}CheckAndDownloadModulesByList failed")" = 2 ] ||
    fail "the second run should fail on the two-file archive"
  expect_no_line "replace files start"
  expect_installation_unchanged "$before"
  [ ! -e "$player/OvUpdate/bin/plugins/readme.txt" ] && [ ! -e "$player/OvUpdate/bin/plugins/subtitle.dll" ] ||
    fail "the two-file archive was unpacked"
  expect_no_backups
}

# The holder's cmd and program (Linux process ids), found by the mark only this run uses.
holder_pids() { pgrep -f -- "--mark $mark " || true; }
holder_gone() { [ -z "$(holder_pids)" ]; }
release_holder() {
  local pids
  pids=$(holder_pids)
  [ -z "$pids" ] || kill $pids 2>/dev/null || true
}

# An installed file held open without delete sharing cannot be moved aside: the swap stops
# after codec.dll went in, codec.dll's backup is put back and the run reports the rollback.
# The held file is opened by cmd's input redirection (no FILE_SHARE_DELETE) for a stand-in
# program that waits. Once the file is free, the next run swaps in the staged files.
scenario_held_file_rolls_back() {
  serve_modules
  # The holder is found again by its mark, which no other run uses.
  local before holder="$sandbox/holder"
  mark="MODULE_HOLDER_$$_$RANDOM"
  before=$(installed_digests)
  mkdir -p "$holder"
  cp "$bin/OrvixPlayer.exe" "$holder/holder.exe"
  (cd "$holder" && exec "$WINE_LOADER" cmd /c \
    "holder.exe window --hidden --mark $mark --for 30 < ..\\player\\plugins\\subtitle.dll > held.out" \
    </dev/null >/dev/null 2>&1) &
  trap release_holder EXIT  # also when a check fails (the scenario runs in a subshell)
  wait_until 10 file_has "$holder/held.out" shown || fail "the holder did not start"
  run_agent
  release_holder
  expect_agent_ok
  expect_lines_in_order "replace new files start" \
    "move $player_win\\codec.dll to $player_win\\codec.dll.bak success" \
    "move $player_win\\plugins\\subtitle.dll to $player_win\\plugins\\subtitle.dll.bak failed" \
    "replace files failed, begin rollback" \
    "Rollback $player_win\\codec.dll.bak to $player_win\\codec.dll success" \
    "replace files failed, rollback finish and return"
  expect_no_line "replace new files success"
  expect_installation_unchanged "$before"
  expect_no_backups

  wait_until 5 holder_gone || true
  run_agent
  expect_agent_ok
  expect_line "replace count 2 success"
  cmp -s "$player/plugins/subtitle.dll" "$sample/files/plugins/subtitle.dll" || fail "plugins/subtitle.dll was not replaced"
  [ "$(archive_hits plugins/subtitle.dll)" = 1 ] || fail "the staged plugins/subtitle.dll should be reused, not fetched again"
  [ ! -e "$player/OvUpdate" ] || fail "the working folder is still there"
  expect_no_backups
}

# Names from the network that lead out of the player folder: a module named "..\..\x" in the
# list refuses the whole list (nothing fetched), and an archive whose entry is
# "../../../x" (out of the staging folder, up past the player folder) is not unpacked, nor
# is an entry claiming gigabytes.
# Nothing appears outside the player folder and every run ends in time.
scenario_hostile_names_stay_inside() {
  serve_modules
  agent_timeout=60
  local before outside
  before=$(installed_digests)
  outside=$(dirname "$sandbox")
  sed -i 's#</root>#  <File md5="00000000000000000000000000000000" zipmd5="00000000000000000000000000000000">..\\..\\x.dll</File>\r\n</root>#' "$module_list"
  grep -qF '..\..\x.dll' "$module_list" || fail "the hostile name is not in the list"
  run_agent
  expect_agent_ok
  expect_line_prefix "ParseUpdateModuleList "
  [ "$(archive_hits codec.dll)" = 0 ] || fail "a list with a hostile name was acted on"
  [ "$(grep -c 'x\.dll' "$server_log")" = 0 ] || fail "the hostile module was requested"
  [ ! -e "$outside/x.dll" ] && [ ! -e "$sandbox/x.dll" ] && [ ! -e "$player/x.dll" ] || fail "x.dll was written"

  "$linux_bin/OvModuleSource" "$sample/files" "$source_dir" >/dev/null
  replace_archive codec.dll ../../../x "escaped"
  run_agent
  expect_agent_ok
  expect_line_prefix "UnZipOneFile "
  [ ! -e "$sandbox/x" ] && [ ! -e "$player/x" ] && [ ! -e "$player/OvUpdate/x" ] && [ ! -e "$outside/x" ] ||
    fail "the entry ../../../x was written"

  # An entry that claims 3 GiB is refused before a byte is unpacked.
  "$linux_bin/OvModuleSource" "$sample/files" "$source_dir" >/dev/null
  set_declared_size codec.dll 3221225472
  run_agent
  expect_agent_ok
  [ "$(log_lines | grep -cF "${agent_line_prefix}UnZipOneFile ")" = 2 ] || fail "the large entry was not refused"
  [ ! -e "$player/OvUpdate/bin/codec.dll" ] || fail "the large entry was unpacked"
  expect_installation_unchanged "$before"
  expect_no_backups
}
