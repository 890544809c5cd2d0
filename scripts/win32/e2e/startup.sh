# Start and exit of the agent, and the single instance.

# The internet-cafe edition (bm = 1) ends the background thread before any update, so a
# background run is local and short; it logs its start first and its exit last.
scenario_start_and_exit_lines() {
  add_setting "$appdata/Lumora Video/Brisa/Kavo.ini" main bm 1
  run_agent
  [ "$(log_lines | head -1)" = "${agent_line_prefix}升级程序OvUpdate.exe启动，读取 printlog = 1" ] ||
    fail "first line: $(log_lines | head -1)"
}

# A second agent, started while an initiative agent waits for the player, leaves.
scenario_second_agent_leaves() {
  add_setting "$appdata/Lumora Video/Brisa/Kavo.ini" main bm 1
  (cd "$agent_dir" && exec "$WINE_LOADER" "$agent_exe" initiative </dev/null >/dev/null 2>&1) &
  local first_agent=$!
  wait_for_line_prefix '启动参数'
  run_agent
  # The player ends the first agent's conversation.
  timeout 60 "$WINE_LOADER" "$player/Orvix.exe" send allclose </dev/null >/dev/null 2>&1 || true
  wait_until 10 not_running "$first_agent" || fail "the first agent did not end after allclose"
  expect_line "已经有Ovupdate.exe存在"
  [ "$(log_lines | grep -c '升级程序OvUpdate.exe退出')" = 2 ] || fail "both agents should log their exit"
}
