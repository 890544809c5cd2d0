# The player's pipe to the agent: the update a user asks for, the background agent taken
# over by the player, and a player that misbehaves on the pipe. The stand-in player
# (Orvix.exe) is the pipe client; the stand-in server offers a package.

package_name=OrvixSetup_3.2.0.1.exe
release_notes='新版本：更快的启动'

# The server offers a package of SIZE bytes (random content); sets package_md5, offer_reply
# and saved_path (where the agent keeps the package, as it names it).
serve_offer() {  # size
  local www="$sandbox/www"
  mkdir -p "$www/product/OvUpdate" "$www/packages"
  head -c "$1" /dev/urandom >"$www/packages/$package_name"
  package_md5=$(md5_of "$www/packages/$package_name")
  printf '<?xml version="1.0" encoding="utf-8"?>\r\n<update>\r\n  <exeupdate version="3.2.0.1" md5="%s" url="@SERVER@/packages/%s" verinfo="%s" filename="%s"/>\r\n</update>\r\n' \
    "$package_md5" "$package_name" "$release_notes" "$package_name" >"$www/product/OvUpdate/OvUpdateInfo.xml"
  start_server "$www"
  set_deploy "$server_url" "$server_url" "$server_url" "$server_url"
  offer_reply="update:$package_name**3.2.0.1**$package_md5**$release_notes"
  saved_path="$data_dir_win\\OvUpdate\\$package_name"
}
package_hits() { server_hits "/packages/$package_name"; }

# start_agent [ARGS...]: the agent in the background (agent_pid); returns once it logged its
# arguments, so its pipe is about to be served.
start_agent() {
  (cd "$agent_dir" && exec timeout 120 "$WINE_LOADER" "$agent_exe" "$@" </dev/null >"$sandbox/agent.out" 2>&1) &
  agent_pid=$!
  wait_for_line_prefix "启动参数"
}
# The agent ended within 30 s and its log ends with the exit line.
expect_agent_ends() {
  wait_until 30 not_running "$agent_pid" || fail "the agent did not end"
  wait "$agent_pid" || fail "the agent ended with status $?"
  expect_exit_line
}

# run_player ARGS...: one run of the stand-in player; its output in player_out, status in
# player_status.
run_player() {
  player_status=0
  timeout 60 "$WINE_LOADER" "$player/Orvix.exe" "$@" </dev/null >"$sandbox/player.out" 2>&1 || player_status=$?
  [ "$player_status" != 124 ] || fail "the player did not end"
  player_out=$(tr -d '\r' <"$sandbox/player.out")
}
expect_player_ok() { [ "$player_status" = 0 ] || fail "player status $player_status: $player_out"; }
expect_output() {  # line
  grep -qxF -- "$1" <<<"$player_out" || fail "player printed no line: $1"$'\n'"$player_out"
}

# The player runs the whole exchange of an update the user asks for: the offer, the
# download with its progress, the verified package, then "allclose". While the package is
# still coming, "downloadsuccess" is answered "wait" with the path (a package large enough
# that the player's first poll comes before its end).
scenario_player_runs_the_whole_exchange() {
  local size=$((48 << 20))
  serve_offer "$size"
  start_agent initiative
  run_player update --timeout 60
  expect_player_ok
  expect_agent_ends

  expect_output "offer: $offer_reply"
  expect_output "download: downloadstart"
  expect_output "progress: $size of $size bytes (100%)"
  expect_output "package: $saved_path"
  expect_output "sent: allclose"
  [ "$(md5_of "$package_dir/$package_name")" = "$package_md5" ] || fail "the saved package differs"
  [ "$(package_hits)" = 1 ] || fail "package downloads: $(package_hits)"

  expect_lines_in_order \
    "request:requestxml, response:$offer_reply" \
    "request:downloadsetup, response:downloadstart" \
    "request:downloadsuccess, response:wait*$saved_path" \
    "curl downloadsuccess" \
    "request:downloadprogress, response:$size.000000*$size.000000" \
    "request:downloadsuccess, response:ok*$saved_path" \
    "request:allclose,now close all" \
    "pipe thread normal exit" \
    "主动升级启动，并且主动升级请求后关闭"
  expect_no_line "request:downloadsuccess, response:failed*$saved_path"
}

# A correct package already in the data folder is handed over at once ("ok*PATH*"), with
# no download; "closewindow" ends an agent started for the player as "allclose" would.
scenario_correct_package_on_disk_is_handed_over_without_download() {
  serve_offer 65536
  mkdir -p "$package_dir"
  cp "$sandbox/www/packages/$package_name" "$package_dir/"
  start_agent initiative
  run_player update --closewindow
  expect_player_ok
  expect_agent_ends
  expect_output "download: ok*$saved_path*"
  expect_output "sent: closewindow"
  [ "$(package_hits)" = 0 ] || fail "the package was downloaded"
  expect_line "request:downloadsetup, response:ok*$saved_path*"
  expect_line "request:closewindow"
  expect_no_line "curl downloadsuccess"
}

# A background agent taken over by the player: after "closewindow" the update goes on and
# the pipe is served again, the offer kept from the first connection; "allclose" ends the
# background run. The run stays busy meanwhile because its update document is missing: it
# waits a minute before trying the domains again.
scenario_background_agent_serves_again_after_closewindow() {
  serve_offer 65536
  start_agent
  wait_for_line_prefix "由于下载xml失败，现在开始重试..."
  run_player send requestxml closewindow
  expect_player_ok
  [ "$player_out" = "$offer_reply" ] || fail "first connection: $player_out"
  wait_for_line_prefix "非主动升级启动，并且主动升级请求后关闭，此时重新开始等待线程"
  running "$agent_pid" || fail "the agent ended after closewindow"

  run_player send requestxml allclose
  [ "$player_out" = "$offer_reply" ] || fail "second connection: $player_out"
  expect_agent_ends
  expect_hits /product/OvUpdate/OvUpdateInfo.xml 1
  expect_lines_in_order \
    "request:closewindow" \
    "pipe thread normal exit" \
    "非主动升级启动，并且主动升级请求后关闭，此时重新开始等待线程" \
    "request:allclose,now close all" \
    "pipe thread normal exit" \
    "终止正常线程" \
    "正常进程启动，主动升级先完成升级，强制正常线程退出"
}

# --- a player that misbehaves: the agent answers or ends the connection, and then ends
# cleanly by itself, its pipe thread and its exit logged.

# misbehaving_player EXPECTED-LOG-PREFIX PLAYER-ARGS...: an agent started for the player,
# one player run, and the agent's clean end.
misbehaving_player() {
  local expected=$1
  shift
  start_agent initiative
  run_player "$@"
  expect_agent_ends
  expect_line_prefix "$expected"
  expect_line "pipe thread normal exit"
}

# A request one byte longer than the agent's buffer (error 234: more data), or an empty
# message (read, but nothing in it: not the broken pipe, 109, of a player gone), ends the
# connection.
scenario_oversized_or_empty_message_ends_the_connection() {
  misbehaving_player "ReadFile failed or none, error code:234" send --size 8193 downloadprogress
  [ "$player_status" = 1 ] && [ "$player_out" = "pipe closed by the agent" ] || fail "player: $player_out"
  expect_no_line_prefix "request:"

  reset_sandbox
  misbehaving_player "ReadFile failed or none, error code:" send --size 0 requestxml
  [ "$player_status" = 1 ] && [ "$player_out" = "pipe closed by the agent" ] || fail "player: $player_out"
  expect_no_line_prefix "request:"
  expect_no_line "ReadFile failed or none, error code:109"
}

# Unknown words, control words in other letter cases among them, get an empty reply and
# the connection goes on; a request filling the buffer exactly is a request too.
scenario_unknown_words_get_an_empty_reply() {
  serve_offer 65536
  misbehaving_player "request:ALLCLOSE, response:" \
    send ALLCLOSE CloseWindow hello "requestxml " "" --size 8192 downloadprogress
  expect_player_ok
  [ "$player_out" = $'\n\n\n\n\n0.000000*0.000000' ] || fail "replies: $player_out"
  expect_line "request:CloseWindow, response:"
  expect_line "request:hello, response:"
  expect_line "request:requestxml , response:"
  expect_line "request:, response:"
  expect_line "request:downloadprogress, response:0.000000*0.000000"
  expect_line "ReadFile failed or none, error code:109"
  expect_hits /product/OvUpdate/OvUpdateInfo.xml 0
}

# The player vanishes while the package is coming: asking again during the download gets
# "downloadstart" without a second download, the agent ends with the connection, and no
# partial package is left as if it were whole.
scenario_player_vanishing_mid_download_ends_the_agent() {
  serve_offer $((48 << 20))
  misbehaving_player "ReadFile failed or none, error code:109" \
    send requestxml downloadsetup downloadsuccess downloadsetup
  expect_player_ok
  [ "$player_out" = "$offer_reply"$'\ndownloadstart\nwait*'"$saved_path"$'\ndownloadstart' ] ||
    fail "replies: $player_out"
  # The server logs a request once answered, so the cut download may not show.
  [ "$(package_hits)" -le 1 ] || fail "package downloads: $(package_hits)"
  local saved="$package_dir/$package_name"
  [ ! -e "$saved" ] || [ "$(md5_of "$saved")" = "$package_md5" ] || fail "a partial package is left as the package"
}
