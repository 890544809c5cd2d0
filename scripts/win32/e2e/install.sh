# A background run that takes the installer package: through the stand-in engine, or over
# HTTP from the full link and then from each package domain, always ending with the digest
# check; then the verified package started or recorded, the running player told on its
# marked window, and a run without a package meeting another updater's silent-update object.
# Every run must reach the end of the normal update thread by itself.

package_name=OrvixSetup_3.2.0.1.exe
silent_object=AEE5851B-96A7-4F3A-8C04-D2CAE21C8003
sandbox_win=$(to_windows "$sandbox")

# One server stands for every side: the document at its root, the engine's link under
# /p2p/, the full link /pkg and the package domains under /d1, /d2, /d3. The package is the
# stand-in installer, which notes in $INSTALLER_MARKER how many arguments it got.
install_world() {
  www="$sandbox/www"
  mkdir -p "$www/product/OvUpdate"
  start_server "$www"
  set_deploy "$server_url" "$closed_port" "$closed_port" "$closed_port"
  add_setting Testing.ini Device ClientIDForTest abc
  [ -f "$bin/OrvixSetup.exe" ] || fail "no $bin/OrvixSetup.exe (build the OrvixSetup target)"
  package="$sandbox/package.exe"
  cp "$bin/OrvixSetup.exe" "$package"
  package_md5=$(md5_of "$package")
  marker="$sandbox/installer-ran.txt"
  export INSTALLER_MARKER="$sandbox_win\\installer-ran.txt"
  install_engine
}

# The stand-in engine and its companions where HKEY_CLASSES_ROOT\NimboProxy points.
install_engine() {
  engine="$sandbox/engine"
  mkdir -p "$engine"
  cp "$bin/prism.dll" "$bin/NimboProxy.dll" "$engine/"
  echo "the engine's own HTTP library" >"$engine/libcurl.dll"
  reg_set 'HKCR\NimboProxy' "" "$sandbox_win\\engine\\NimboProxy.dll"
}

# serve PATH FILE|TEXT: the server answers PATH with the file's bytes (or the text).
serve() {
  mkdir -p "$(dirname "$www$1")"
  if [ -f "$2" ]; then cp "$2" "$www$1"; else printf '%s' "$2" >"$www$1"; fi
}

# offer ATTRIBUTES [DOMAIN...]: the update document with the package domains and one update
# element with the given attributes besides name, version, digest and release notes.
offer() {
  local attributes=$1 domain domains=
  shift
  for domain in "$@"; do domains+="<domain>$domain</domain>"; done
  printf "<?xml version='1.0' encoding='utf-8'?><updateinfo><Domain>%s</Domain><update name='%s' ver='3.2.0.1' md5='%s' %s><file name='absent.dll' path='1'/></update></updateinfo>" \
    "$domains" "$package_name" "$package_md5" "$attributes" >"$www/product/OvUpdate/OvUpdate.xml"
}
# Engine attributes for a package link; the crc32 and size are only passed on.
engine_link() { echo "usehttp='0' prismlink='$1' filesize='64' crc32='9a3f00c1'"; }

# One run of the agent that ends its normal update thread.
run_install() {
  run_agent
  expect_line "正常升级线程结束"
}

saved_package() { echo "$package_dir/$package_name"; }
expect_saved() { cmp -s "$(saved_package)" "$package" || fail "the saved package differs from the served one"; }
recorded_file() { tr -d '\r' <"$settings_file" | sed -n 's/^updatefile=//p' | head -1; }
expect_recorded() { [ "$(recorded_file)" = "$1" ] || fail "updatefile is '$(recorded_file)', expected '$1'"; }
# expect_line_count TEXT COUNT
expect_line_count() {
  local n
  n=$(log_lines | grep -cxF -- "$agent_line_prefix$1" || true)
  [ "$n" = "$2" ] || fail "'$1' logged $n times, expected $2"
}

scenario_engine_downloads_the_package_and_it_is_recorded() {
  install_world
  serve /p2p/pkg "$package"
  offer "$(engine_link "@SERVER@/p2p/pkg") httplinkfull='@SERVER@/pkg' runnow='0'"
  run_install
  expect_lines_in_order "准备下载安装包" "只存在prism后开始下载，失败后再http下载" "prism download start" \
    "设置任务配置参数：paramname:p2p_priority, paramvalue:1, return code:0" \
    "prism 注册回掉：success" "prism 开始任务：success" "prism 回掉注册成功" \
    "下载安装包完成 下载状态是：5" "check md5 success" "write update info in OvUpdate.ini" \
    "释放所有prism资源" "正常升级线程结束"
  expect_saved
  expect_recorded "$package_name"
  expect_hits /p2p/pkg 1
  expect_hits /pkg 0
  [ ! -e "$marker" ] || fail "a recorded package was started"
}

# Each way the engine can be unusable before its task runs sends the download to HTTP at
# once, with the line of the step that failed (none for the steps that log nothing).
unusable_engine_falls_back() {  # [LINE]
  run_install
  local expected=("prism download start")
  [ -n "${1:-}" ] && expected+=("$1")
  expected+=("prism失败,去走http下载" "升级成功。实用的是httplinkfull，值为：$server_url/pkg" "check md5 success")
  expect_lines_in_order "${expected[@]}"
  expect_hits /p2p/pkg 0
  expect_hits /pkg 1
  expect_saved
  expect_recorded "$package_name"
  expect_no_line "prism 回掉注册成功"
  expect_line "释放所有prism资源"
}
unusable_engine_world() {
  install_world
  serve /p2p/pkg "the engine must not be the one that brings this"
  serve /pkg "$package"
  offer "$(engine_link "@SERVER@/p2p/pkg") httplinkfull='@SERVER@/pkg'"
}

scenario_unusable_engine_no_checksum() {
  unusable_engine_world
  offer "usehttp='0' prismlink='@SERVER@/p2p/pkg' filesize='64' httplinkfull='@SERVER@/pkg'"
  unusable_engine_falls_back "prismlink or filesize or crc32 is empty return"
}
scenario_unusable_engine_no_registry_key() {
  unusable_engine_world
  reg_delete 'HKCR\NimboProxy'
  unusable_engine_falls_back "加载prism.dll失败"
}
scenario_unusable_engine_key_names_a_missing_file() {
  unusable_engine_world
  reg_set 'HKCR\NimboProxy' "" "$sandbox_win\\gone\\NimboProxy.dll"
  unusable_engine_falls_back "加载prism.dll失败"
}
scenario_unusable_engine_no_exports() {
  unusable_engine_world
  cp "$engine/NimboProxy.dll" "$engine/prism.dll"
  unusable_engine_falls_back "prism.dll 获取导出函数失败"
}
scenario_unusable_engine_no_libcurl() {
  unusable_engine_world
  rm "$engine/libcurl.dll"
  unusable_engine_falls_back
}
# The stand-in engine refuses the step named in PRISM_STANDIN_FAIL (the agent's environment
# reaches the library it loads).
scenario_unusable_engine_no_creator() {
  unusable_engine_world
  export PRISM_STANDIN_FAIL=init
  unusable_engine_falls_back
}
scenario_unusable_engine_no_task() {
  unusable_engine_world
  export PRISM_STANDIN_FAIL=task
  unusable_engine_falls_back
}
scenario_unusable_engine_callback_refused() {
  unusable_engine_world
  export PRISM_STANDIN_FAIL=callback
  unusable_engine_falls_back "prism 注册回掉：fail"
}
scenario_unusable_engine_task_not_started() {
  unusable_engine_world
  export PRISM_STANDIN_FAIL=start
  unusable_engine_falls_back "prism 开始任务：fail"
}

# The engine's link answers 404: its failure notification sends the download to HTTP, and
# the engine is not tried again.
scenario_engine_failure_notification_sends_the_download_to_http() {
  install_world
  serve /pkg "$package"
  offer "$(engine_link "@SERVER@/p2p/pkg") httplinkfull='@SERVER@/pkg'"
  run_install
  expect_lines_in_order "prism 开始任务：success" "prism或者nimbo下载安装包返回失败转http下载" \
    "[LmUpdate.exe]保存文件名为：$data_dir_win\\OvUpdate,$package_name" \
    "升级成功。实用的是httplinkfull，值为：$server_url/pkg" "下载安装包完成 下载状态是：5" \
    "check md5 success" "释放所有prism资源"
  expect_hits /p2p/pkg 1
  expect_hits /pkg 1
  expect_line_count "prism download start" 1
  expect_saved
  expect_recorded "$package_name"
}

# A package the engine calls whole is still checked; a wrong one is fetched over HTTP once,
# and a second wrong one ends the run without installing.
wrong_digest_from_the_engine() {  # yes|no: whether HTTP serves the right package
  install_world
  serve /p2p/pkg "corrupted by a peer"
  if [ "$1" = yes ]; then serve /pkg "$package"; else serve /pkg "corrupted on the server too"; fi
  offer "$(engine_link "@SERVER@/p2p/pkg") httplinkfull='@SERVER@/pkg'"
  run_install
  local second_check="check md5 fail" recorded=
  [ "$1" = yes ] && second_check="check md5 success" recorded=$package_name
  expect_lines_in_order "下载安装包完成 下载状态是：5" "check md5 fail" \
    "prism返回成功但md5校验失败，重新开始http下载" "释放所有prism资源" \
    "下载安装包完成 下载状态是：5" "$second_check" "释放所有prism资源" "正常升级线程结束"
  expect_line_count "prism返回成功但md5校验失败，重新开始http下载" 1
  expect_hits /p2p/pkg 1
  expect_hits /pkg 1
  expect_recorded "$recorded"
  [ ! -e "$marker" ] || fail "a package was started"
}
scenario_wrong_digest_from_the_engine_then_right_over_http() { wrong_digest_from_the_engine yes; }
scenario_wrong_digest_from_the_engine_and_over_http() { wrong_digest_from_the_engine no; }

# The full link answers 404: the package domains are tried in their order, and the third is
# never asked once the second serves. usehttp keeps the engine out.
scenario_full_link_fails_then_the_domains_in_order() {
  install_world
  serve /d2/packages/pkg "$package"
  serve /d3/packages/pkg "$package"
  offer "usehttp='1' prismlink='@SERVER@/p2p' httplinkfull='@SERVER@/gone' httplink='packages/pkg'" \
    "@SERVER@/d1" "@SERVER@/d2" "@SERVER@/d3"
  run_install
  local save_path="$data_dir_win\\OvUpdate\\$package_name"
  expect_lines_in_order "http下载开始" "[LmUpdate.exe]httplinkfull为空或者下载失败，值为：$server_url/gone" \
    "[LmUpdate.exe]使用httplink拼接域名的方式下载，strHttpLink = packages/pkg" \
    "[LmUpdate.exe]拼接域名全地址：$server_url/d1/packages/pkg， 保存文件名为：$save_path" \
    "下载${save_path}返回失败" \
    "[LmUpdate.exe]拼接域名全地址：$server_url/d2/packages/pkg， 保存文件名为：$save_path" \
    "升级成功。实用的地址为：$server_url/d2/packages/pkg" "check md5 success"
  expect_no_line "prism download start"
  expect_hits /p2p 0
  expect_hits /gone 1
  expect_hits /d1/packages/pkg 1
  expect_hits /d2/packages/pkg 1
  expect_hits /d3/packages/pkg 0
  expect_saved
  expect_recorded "$package_name"
}

# Nothing to download from: the run ends with status 6 at once and goes on to the module
# update.
scenario_no_link_at_all_ends_with_status_6() {
  install_world
  offer "usehttp='1'"
  run_install
  expect_lines_in_order "http下载开始" "[LmUpdate.exe]httplinkfull为空或者下载失败，值为：" \
    "下载安装包完成 下载状态是：6" "升级包下载失败，结束程序!" "释放所有prism资源" \
    "创建静默下载内核对象成功，防止老版本后续再去下载" "无需静默下载或静默失败" "正常升级线程结束"
  expect_no_line "check md5 success"
  [ ! -e "$(saved_package)" ] || fail "a package was saved"
  expect_recorded ""
}

# runnow = 1: the verified package is started at once, with no parameters, and nothing is
# recorded for the player.
scenario_run_now_starts_the_package_without_parameters() {
  install_world
  serve /pkg "$package"
  offer "usehttp='1' httplinkfull='@SERVER@/pkg' runnow='1'"
  run_install
  expect_lines_in_order "check md5 success" "run setup.exe now" "释放所有prism资源"
  wait_until 10 test -s "$marker" || true
  [ "$(cat "$marker" 2>/dev/null)" = "started with 0 arguments" ] ||
    fail "the package did not note a start without arguments: $(cat "$marker" 2>/dev/null)"
  expect_recorded ""
  expect_no_line "write update info in OvUpdate.ini"
}

# --- the running player's marked windows
# show_window [OPTIONS...]: one more stand-in player window (below the earlier ones); sets
# window_handle and window_out.
window_count=0
show_window() {
  window_count=$((window_count + 1))
  window_out="$sandbox/window$window_count.out"
  "$WINE_LOADER" "$player/Orvix.exe" window --for 60 "$@" </dev/null >"$window_out" 2>&1 &
  wait_until 10 file_has "$window_out" shown || true
  window_handle=$(tr -d '\r' <"$window_out" | sed -n 's/^window \([0-9]*\) shown.*/\1/p')
  [ -n "$window_handle" ] || fail "window $window_count not shown: $(cat "$window_out")"
}
expect_window_silent() {  # OUTPUT-FILE HANDLE
  ! file_has "$1" "window $2 got" || fail "window $2 got a message"
  ! file_has "$1" "window $2 brought" || fail "window $2 was brought forward"
}

# The walk skips windows without the mark, tells the first marked one (recorded package,
# runnow = 0) and brings it forward; later marked windows hear nothing.
scenario_release_notes_go_to_the_first_marked_visible_window() {
  install_world
  serve /pkg "$package"
  offer "usehttp='1' httplinkfull='@SERVER@/pkg' runnow='0' showtip='1' verlog='Faster start-up; subtitles fixed.'"
  show_window --mark SOME_OTHER_APP
  local out1=$window_out h1=$window_handle
  show_window
  local out2=$window_out h2=$window_handle
  show_window --mark TESSIMAGE_CLT
  local out3=$window_out h3=$window_handle
  run_install

  local text="update:$package_name**3.2.0.1**$package_md5**Faster start-up; subtitles fixed."
  expect_lines_in_order "write update info in OvUpdate.ini" "notify Orvix.exe" \
    "给窗口$(printf %x "$h2")发送copydata $text" "释放所有prism资源"
  expect_recorded "$package_name"
  [ ! -e "$marker" ] || fail "a recorded package was started"
  local got="window $h2 got WM_COPYDATA dwData=12 cbData=$(( ${#text} + 1 )) (zero byte counted): $text"
  wait_until 5 file_has "$out2" "window $h2 brought forward" || true
  tr -d '\r' <"$out2" | grep -xF -A100 -- "$got" | grep -xF "window $h2 brought forward" >/dev/null ||
    fail "window 2 was not told and then brought forward: $(tr -d '\r' <"$out2")"
  expect_window_silent "$out1" "$h1"
  expect_window_silent "$out3" "$h3"
}

scenario_minimised_first_marked_window_stops_the_walk() {
  install_world
  serve /pkg "$package"
  offer "usehttp='1' httplinkfull='@SERVER@/pkg' showtip='1' verlog='notes'"
  show_window --minimized
  local out1=$window_out h1=$window_handle
  show_window
  local out2=$window_out h2=$window_handle
  run_install
  expect_lines_in_order "notify Orvix.exe" "释放所有prism资源"
  expect_no_line "给窗口$(printf %x "$h1")发送copydata update:$package_name**3.2.0.1**$package_md5**notes"
  sleep 0.5  # anything sent would show by now
  expect_window_silent "$out1" "$h1"
  expect_window_silent "$out2" "$h2"
}

# A run without a package takes the silent-update object for the module update; while
# another process holds the object (here a stand-in of an older updater), the module update
# is left to that process.
scenario_silent_object_of_another_process_skips_the_module_update() {
  install_world
  offer "enable='0'"
  cp "$player/Orvix.exe" "$player/OldUpdater.exe"
  "$WINE_LOADER" "$player/OldUpdater.exe" hold "$silent_object" --for 60 </dev/null >"$sandbox/holder.out" 2>&1 &
  wait_until 10 file_has "$sandbox/holder.out" "holding $silent_object" || fail "the object is not held: $(cat "$sandbox/holder.out")"
  run_install
  expect_lines_in_order "下载安装包完成 下载状态是：2" "释放所有prism资源" \
    "老版本静默升级下载文件内核对象存在，不走Ovupdate.exe静默流程" "正常升级线程结束"
  expect_no_line "创建静默下载内核对象成功，防止老版本后续再去下载"
  expect_no_line "无需静默下载或静默失败"
}
