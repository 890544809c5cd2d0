# Sourced by the end-to-end scenario files of the Windows stage: a sandbox for OvUpdate.exe
# in the Wine prefix (player folder, data folder, log, deployment file, registry values),
# the stand-in download server on 127.0.0.1 (the Linux OvServer, reached by the Windows
# programs over loopback), and checks that judge a run by what the agent wrote.
# Expects the environment of wine-env.sh and a running Wine server.
#
# A scenario file defines functions named scenario_<name>; e2e.sh runs each in a subshell
# after reset_sandbox. A scenario fails by calling fail (or by any failing command).

e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
bin="$OV_TEST_BUILD/bin"
linux_bin=${OV_LINUX_BIN:-$e2e_root/build/bin}
sandbox=${OV_E2E_DIR:-$OV_TEST_BUILD/e2e}
player="$sandbox/player"
agent_dir="$sandbox/agent"
agent_exe="$agent_dir/OvUpdate.exe"
agent_line_prefix='[OvUpdate.exe] '

wine_run() { "$WINE_LOADER" "$@" </dev/null; }
to_unix() { wine_run winepath -u "$1" 2>/dev/null | tr -d '\r'; }
to_windows() { wine_run winepath -w "$1" 2>/dev/null | tr -d '\r'; }

fail() {
  echo "e2e: FAILED: $*" >&2
  if [ -f "${log_file:-}" ]; then
    echo "--- agent log:" >&2
    tr -d '\r' <"$log_file" >&2
  fi
  exit 1
}

# The agent's folders inside the prefix.
e2e_folders() {
  local appdata_win
  # The unit tests point the shell's AppData folder into their sandboxes; one that ended
  # early may have left it there. The agent asks the shell: put the default back.
  wine_run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
    /v AppData /t REG_EXPAND_SZ /d '%USERPROFILE%\AppData\Roaming' /f >/dev/null 2>&1 ||
    fail "cannot reset the AppData folder"
  appdata_win="$(wine_run cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')\AppData\Roaming"
  appdata=$(to_unix "$appdata_win")
  [ -n "$appdata" ] && [ -d "$appdata" ] || fail "no application-data folder in the Wine prefix"
  data_dir="$appdata/Lumora Video/Orvix"
  package_dir="$data_dir/OvUpdate"
  settings_file="$data_dir/OvUpdate.ini"
  log_dir="$appdata/kvlog"
  data_dir_win=$(to_windows "$data_dir")
  player_win=$(to_windows "$player")
}

# Registry values in both views (a 32-bit agent reads the 32-bit one, a 64-bit agent the
# other). reg_set KEY NAME VALUE; an empty NAME is the key's default value.
# A write is tried again after a short pause: a Wine program can fail to start while the
# programs of the previous scenario are still ending.
reg_set() {
  local view attempt name_args=(/ve)
  [ -n "$2" ] && name_args=(/v "$2")
  for view in 32 64; do
    for attempt in 1 2 3 4; do
      wine_run reg add "$1" "${name_args[@]}" /d "$3" /f "/reg:$view" >"$sandbox.reg.out" 2>&1 && break
      [ "$attempt" = 4 ] && fail "cannot write $1: $(tr -d '\r' <"$sandbox.reg.out" | tail -3)"
      sleep 0.5
    done
  done
}
reg_delete() {
  local view
  for view in 32 64; do wine_run reg delete "$1" /f "/reg:$view" >/dev/null 2>&1 || true; done
}

# Servers that refuse at once: nothing leaves the machine whatever the agent tries.
set_deploy() {  # domain1 domain2 domain3 report
  printf '[servers]\r\ndomain1=%s\r\ndomain2=%s\r\ndomain3=%s\r\nreport=%s\r\n' "$@" >"$agent_dir/OvUpdate.deploy.ini"
}
closed_port=http://127.0.0.1:9

# "[section]\r\nkey=value" appended to an initialisation file (a bare name lies in the data
# folder).
add_setting() {  # file section key value
  local file=$1
  [[ "$file" == */* ]] || file="$data_dir/$file"
  mkdir -p "$(dirname "$file")"
  printf '[%s]\r\n%s=%s\r\n' "$2" "$3" "$4" >>"$file"
}

# A fresh host for one scenario: player folder with the stand-in libraries and the stand-in
# player as Orvix.exe (registered under App Paths), an empty data folder with the diagnostic
# log on, all servers closed, no engine registered, no agent or player still running.
reset_sandbox() {
  stop_programs
  rm -rf "$sandbox" "$log_dir" "$data_dir" "$appdata/Lumora Video/Brisa"
  mkdir -p "$player" "$agent_dir" "$data_dir"
  cp "$bin/Lmlogger.dll" "$bin/CID.dll" "$bin/CrashReport.dll" "$player/"
  cp "$bin/OrvixPlayer.exe" "$player/Orvix.exe"
  cp "$bin/OvUpdate.exe" "$agent_exe"
  reg_set 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Orvix.exe' "" "$player_win\\Orvix.exe"
  reg_delete 'HKCR\NimboProxy'
  set_deploy "$closed_port" "$closed_port" "$closed_port" "$closed_port"
  add_setting OvUpdate.ini Test printlog 1
  log_file=$(log_name)
}

stop_programs() {
  # Only the programs of this sandbox: another prefix may run its own at the same time.
  pkill -f -- "$sandbox/(agent|player)/" 2>/dev/null || true
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null || true
  server_pid=
}

# --- the stand-in download server
# start_server ROOT: serves the folder tree ROOT; sets server_url and server_log.
start_server() {
  [ -x "$linux_bin/OvServer" ] || fail "no $linux_bin/OvServer (build the Linux tools first)"
  server_log="$sandbox/server-requests.log"
  : >"$server_log"
  "$linux_bin/OvServer" --root "$1" --log "$server_log" >"$sandbox/server.out" 2>&1 &
  server_pid=$!
  local _
  for _ in $(seq 100); do [ -s "$sandbox/server.out" ] && break; sleep 0.05; done
  server_url="http://127.0.0.1:$(head -n1 "$sandbox/server.out")"
  [ "$server_url" != "http://127.0.0.1:" ] || fail "the server did not start"
}
# Requests the server answered for PATH.
server_hits() { grep -c "^GET $1 " "$server_log" || true; }
expect_hits() {  # PATH COUNT
  [ "$(server_hits "$1")" = "$2" ] || fail "$1 asked $(server_hits "$1") times, expected $2"
}

# wait_until SECONDS COMMAND [ARGS...]: true once the command succeeds (tried every 0.1 s),
# false when it has not within SECONDS.
wait_until() {
  local tries=$(($1 * 10)) _
  shift
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
running() { kill -0 "$1" 2>/dev/null; }
not_running() { ! running "$1"; }
# file_has FILE TEXT: a line of FILE (carriage returns dropped) contains TEXT.
file_has() { [ -f "$1" ] && tr -d '\r' <"$1" | grep -F -- "$2" >/dev/null; }

# --- the agent and its log
log_name() { echo "$log_dir/kvlog_$(date +%Y-%-m-%-d).log"; }
log_lines() { [ -f "$log_file" ] && tr -d '\r' <"$log_file"; }

# run_agent [ARGS...]: one run of the agent from its own folder; sets agent_status.
run_agent() {
  agent_status=0
  (cd "$agent_dir" && timeout "${agent_timeout:-120}" "$WINE_LOADER" "$agent_exe" "$@" </dev/null \
    >"$sandbox/agent.out" 2>&1) || agent_status=$?
  [ "$agent_status" != 124 ] || fail "the agent did not end within ${agent_timeout:-120} s"
  [ -f "$log_file" ] || fail "the agent wrote no log ($log_file)"
  expect_exit_line
}
expect_exit_line() {
  [ "$(log_lines | tail -1)" = "${agent_line_prefix}升级程序OvUpdate.exe退出" ] || fail "the log does not end with the exit line"
}

# log_has GREP-OPTIONS PATTERN: the log has a matching line. (grep reads to the end: with
# -q it would stop early, and the writer's broken pipe would fail the pipeline.)
log_has() { log_lines | grep "$1" -- "$2" >/dev/null; }
# expect_line TEXT: the agent logged exactly "[OvUpdate.exe] TEXT".
expect_line() { log_has -xF "$agent_line_prefix$1" || fail "no log line: $1"; }
expect_no_line() { ! log_has -xF "$agent_line_prefix$1" || fail "unexpected log line: $1"; }
expect_line_prefix() { log_has -F "$agent_line_prefix$1" || fail "no log line starting: $1"; }
expect_no_line_prefix() { ! log_has -F "$agent_line_prefix$1" || fail "unexpected log line starting: $1"; }
wait_for_line_prefix() { wait_until 30 log_has -F "$agent_line_prefix$1" || fail "no log line starting: $1"; }
# Each TEXT logged, in the given order.
expect_lines_in_order() {
  local at=0 text n
  for text in "$@"; do
    n=$(log_lines | grep -nxF -- "$agent_line_prefix$text" | cut -d: -f1 | awk -v at="$at" '$1 > at' | head -1)
    [ -n "$n" ] || fail "no log line (in order): $text"
    at=$n
  done
}

md5_of() { md5sum "$1" | cut -d' ' -f1; }
