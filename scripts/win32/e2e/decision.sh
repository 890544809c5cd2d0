# A background run against the stand-in download server: the crash report goes first, the
# document comes from the first domain that answers, every rule decides in the log, and
# the package decision follows.

player_ref='HKEY_LOCAL_MACHINE$$$$SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Orvix.exe$$$$ '
document_path=/product/OvUpdate/OvUpdate.xml

# The first domain refuses connections, the second is the server; the document is written
# to the server's folder.
serve_document() {  # document
  mkdir -p "$sandbox/www/product/OvUpdate"
  printf '%s' "$1" >"$sandbox/www$document_path"
  start_server "$sandbox/www"
  set_deploy "$closed_port" "$server_url" "$closed_port" "$server_url"
  add_setting Testing.ini Device ClientIDForTest abc  # rollout value 83
}
update_element() {  # name attributes file-elements
  printf "<update name='%s' %s>%s</update>" "$1" "$2" "$3"
}

scenario_every_rule_decides_and_the_rollout_picks_the_next_element() {
  local any="<file name='absent.dll' path='1'/>" document
  document=$'\xEF\xBB\xBF'"<?xml version='1.0' encoding='utf-8'?><info><Domain><d>@SERVER@</d></Domain>"
  document+="<Path><p name='$player_ref' flag='1' reg='true'/></Path><Clientpath>$player_ref</Clientpath>"
  document+=$(update_element disabled.exe "enable='0'" "$any")
  document+=$(update_element tooold.exe "clientminver='1.0.0.0'" "$any")
  document+=$(update_element channel.exe "partnerid='77'" "$any")
  document+=$(update_element region.exe "blacklist='us|cn'" "$any")
  document+=$(update_element minver.exe "" "<file name='Orvix.exe' path='1' minver='1.0.0.0'/>")
  document+=$(update_element outside.exe "probability='83'" "$any")
  document+=$(update_element inside.exe "probability='84'" "$any")
  document+=$'</info>\r\n'
  serve_document "$document"
  add_setting OrvixIS.ini main client 1077
  reg_set 'HKCU\Kavo.FDS' area cn
  printf 'error report' >"$data_dir/qserr.dat"

  run_agent
  local exe="$player_win\\Orvix.exe"
  expect_line "下载xml url = $closed_port$document_path, 下载失败"
  expect_line "下载xml url = $server_url$document_path, 下载成功"
  expect_line "domain1->$server_url"
  expect_line "disabled.exe节点无效"
  expect_line "${exe}的版本号小于1.0.0.0，tooold.exe节点无效"
  expect_line "xml渠道id:77命中1077，此渠道不升级, channel.exe节点无效"
  expect_line "xml版本区间--,渠道id:, region.exe节点有效"
  expect_line "updatenode节点region.exe无效或者区域无效清除此节点信息"
  expect_line "本地文件${exe}版本号小于1.0.0.0"
  expect_line "updatenode节点minver.exe里所有file节点不满足升级条件删除当前updatenode节点信息"
  expect_line "需要下载的包$data_dir_win\\OvUpdate\\outside.exe不存在，下载前做灰度判断"
  expect_line "判断是否符合灰度控制，本机使用的clientid：abc, xml中控制的比例值为：83，xml中种子为：1000"
  expect_line "不在灰度内"
  expect_line "updatenode节点inside.exe里file节点absent.dll满足条件去升级"
  expect_line "落在灰度内"
  expect_no_line "由于下载xml失败，现在开始重试..."
  # The crash report went first, and its file is gone.
  [ "$(head -1 "$server_log")" = "POST /p 200" ] || fail "first request: $(head -1 "$server_log")"
  [ ! -e "$data_dir/qserr.dat" ] || fail "qserr.dat is still there"
  # The print-log copy holds the cleaned document (no byte-order mark, nothing after the
  # last ">") in the agent's working folder.
  local expected="${document#$'\xEF\xBB\xBF'}"
  expected="${expected//@SERVER@/$server_url}"
  [ "$(cat "$agent_dir/OvUpdatePrintLog.xml")" = "${expected%$'\r\n'}" ] || fail "the print-log copy differs"
}

scenario_package_on_disk_with_the_right_digest_is_taken_without_download() {
  mkdir -p "$package_dir"
  printf 'a package already downloaded\n' >"$package_dir/setup.exe"
  serve_document "<info>$(update_element setup.exe \
    "probability='0' httplinkfull='@SERVER@/setup.exe' md5='$(md5_of "$package_dir/setup.exe")'" \
    "<file name='absent.dll' path='1'/>")</info>"
  # The package is recorded, not started, so nothing runs.
  add_setting OvUpdate.ini update runnow 0
  run_agent
  expect_line "校验成功"
  expect_line "下载安装包完成 下载状态是：3"
  [ "$(cut -d' ' -f1,2 "$server_log")" = "GET $document_path" ] || fail "requests: $(cat "$server_log")"
}

scenario_document_that_is_not_well_formed_ends_the_run_with_status_2() {
  serve_document "<info><update name='a.exe'></info>"
  run_agent
  expect_line "下载安装包完成 下载状态是：2"
  expect_line "解析xml失败或者不满足升级条件"
}
