#!/usr/bin/env bash
# Demo: seven sections, runs of the agent on a sandbox host in a temporary folder, against
# stand-in servers on 127.0.0.1, with its diagnostic log on: a background update, an
# initiative update driven by the stand-in player, a module update, a package through the
# stand-in peer-to-peer engine, an update decision with every rule, and a signed release
# (taken, then refused once a mirror changed it), and a download cut at 90% and resumed. Each section says what it
# shows and prints the log and what changed on disk. Builds everything it needs first.
#
# The sandbox host: APPDATA (the player's data folder and the kvlog folder), a registry
# file with the player's App Paths entry, a runtime folder for the pipe and the mutexes,
# a Windows folder, and a player folder holding the maker-library stand-ins and a fake
# Orvix.exe. Set OV_KEEP_DEMO=1 to keep the folder afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup-debian.sh

# --- build every program the sections use, before the first one runs (quick when up to date)
echo "== Building the agent, the stand-in libraries, the stand-in player and servers into build/"
echo "   (a few minutes the first time; the compiler output goes to build/demo-build.log)"
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(OvUpdate logger client_id crash_report prism nimbo_proxy OvServer OrvixPlayer ovpublish)
if ! cmake --build build -j"$(nproc)" --target "${targets[@]}" >build/demo-build.log 2>&1; then
  tail -n 30 build/demo-build.log
  echo "demo: the build failed (whole output in build/demo-build.log)" >&2
  exit 1
fi
bin=$root/build/bin

# Prints a section's title, what it shows and what to look at.
section() {
  echo
  echo "==== $1"
  shift
  printf '  %s\n' "$@"
}
# The line under each log excerpt.
about_log() {
  echo "-- The log lines are the agent's own texts (Chinese, as the agent ships them). $1"
}

# --- the sandbox host
box=$(mktemp -d /tmp/ovupdate-demo.XXXXXX)
server_pid=
# The diagnostic log's lines written since log_mark.
log_mark() { log_lines=$(cat "$APPDATA"/kvlog/kvlog_*.log 2>/dev/null | wc -l); }
new_log() { cat "$APPDATA"/kvlog/kvlog_*.log 2>/dev/null | tail -n +"$((log_lines + 1))"; }

# One background run in the sandbox (files it names bare land in $box): its exit code and
# the log lines it wrote, under the name given.
run_agent() {
  log_mark
  status=0
  (cd "$box" && timeout 300 "$bin/OvUpdate") || status=$?
  echo "== Exit code of $1: $status"
  echo "== Diagnostic log of $1"
  new_log
}

cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  if [ -n "${OV_KEEP_DEMO:-}" ]; then echo "Sandbox kept in $box"; else rm -rf "$box"; fi
}
trap cleanup EXIT

export APPDATA=$box/appdata
export OVUPDATE_REGISTRY=$box/registry.reg
export XDG_RUNTIME_DIR=$box/run
export WINDIR=$box/windows
export OVUPDATE_DEPLOY=$box/OvUpdate.deploy.ini
data="$APPDATA/Lumora Video/Orvix"
mkdir -p "$data" "$XDG_RUNTIME_DIR" "$WINDIR" "$box/player" "$box/reports"

cp "$bin"/*.dll "$box/player/"
printf 'MZ stand-in player\n' >"$box/player/Orvix.exe"
winpath() { printf '%s' "$1" | sed 's#/#\\\\#g'; }   # /tmp/x -> \\tmp\\x (.reg escaping)
cat >"$OVUPDATE_REGISTRY" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe]
@="$(winpath "$box/player/Orvix.exe")"
REG
printf '[Test]\r\nprintlog=1\r\n' >"$data/OvUpdate.ini"

# --- the stand-in servers: download domains and crash collection on one local port
server=
if [ -x "$bin/OvServer" ]; then
  mkdir -p "$box/www"
  "$bin/OvServer" --root "$box/www" --reports "$box/reports" >"$box/server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do [ -s "$box/server.out" ] && break; sleep 0.05; done
  server="http://127.0.0.1:$(head -n1 "$box/server.out")"
fi

cat >"$OVUPDATE_DEPLOY" <<INI
[servers]
domain1=${server:-http://127.0.0.1:9}
domain2=${server:-http://127.0.0.1:9}
domain3=${server:-http://127.0.0.1:9}
report=${server:-http://127.0.0.1:9}
INI

section "1/7 Background update: build/bin/OvUpdate with no argument, as the player or a scheduled task starts it" \
  "Shows: the agent fetches the update-information document, finds a newer player installer" \
  "for this machine, downloads it over HTTP, checks its MD5 and records it for the player." \
  "Look at: the log, then the package in the save folder (...\\Orvix\\OvUpdate\\) and OvUpdate.ini."
echo "== Sandbox host: $box"
echo "== Servers: ${server:-none}"
# --- the served tree, published and signed with ovpublish: the installer's update element
# and offer, checked as the agent will read them, and the decision explained for this
# machine (the stand-in player has no version resource).
if [ -n "$server" ] && [ -x "$bin/ovpublish" ]; then
  mkdir -p "$box/keys"
  minisign -G -W -p "$box/keys/ov.pub" -s "$box/keys/ov.key" >/dev/null
  echo "== Publishing the release into $box/www with build/bin/ovpublish"
  "$bin/ovpublish" package tools/server/www/packages/OrvixSetup_3.2.0.1.exe "$box/www" --version 3.2.0.1 \
    --url "$server/packages/OrvixSetup_3.2.0.1.exe" --notes "Faster start-up; subtitles fixed." \
    --set runnow=0 --set showtip=1 --set usehttp=1 --sign "$box/keys/ov.key"
  "$bin/ovpublish" verify "$box/www" --pubkey "$box/keys/ov.pub"
  echo "== ovpublish explain for this machine"
  "$bin/ovpublish" explain "$box/www/product/OvUpdate/OvUpdate.xml" --player-version ""
fi
touch "$box/.start"
sleep 1   # file times of the run differ from the set-up's

echo "== Background run: build/bin/OvUpdate"
status=0
(cd "$box" && timeout 300 "$bin/OvUpdate") || status=$?   # files it names bare land in $box
echo "== Exit code: $status"

echo "== Diagnostic log ($APPDATA/kvlog)"
cat "$APPDATA"/kvlog/kvlog_*.log 2>/dev/null || echo "(no log)"
about_log "节点有效/无效: an update element applies or not; 落在灰度内: this machine is inside the staged rollout; 下载状态是：5: the package was downloaded; check md5 success: its digest matches; write update info in OvUpdate.ini: it is recorded for the player."

echo "== Files created or changed by the run"
(cd "$box" && find . -newer .start -type f ! -path './server.out' | sort)

# ==== Initiative update ======================================================================
# The update a user asks for in the player: the agent is started with "initiative" and the
# stand-in player drives it over the pipe: it fetches the offer, starts the download, shows
# its progress, receives the verified package path and closes with "allclose".
if [ -x "$bin/OrvixPlayer" ] && [ -n "$server" ]; then
  section "2/7 Initiative update: build/bin/OvUpdate initiative, driven by build/bin/OrvixPlayer update" \
    "Shows: the update a user asks for in the player. The stand-in player talks to the agent over" \
    "its pipe: it fetches the offer, starts the download, polls the progress and gets the verified" \
    "package path, then ends the agent with \"allclose\"." \
    "Look at: the player's lines (offer, download, progress, package) and the matching requests in the log."
  # A package the background run left would be handed over without a download.
  rm -f "$data/OvUpdate/OrvixSetup_3.2.0.1.exe"
  log_mark
  touch "$box/.initiative"
  sleep 1
  timeout 120 "$bin/OvUpdate" initiative &
  agent_pid=$!
  player_status=0
  "$bin/OrvixPlayer" update --timeout 60 || player_status=$?
  agent_status=0
  wait "$agent_pid" || agent_status=$?
  echo "== Exit codes: player $player_status, agent $agent_status"

  echo "== Diagnostic log of the initiative run"
  new_log
  about_log "request:WORD, response:REPLY: one request of the player and the agent's reply; curl downloadsuccess: the package download ended whole; 主动升级…关闭: the initiative agent ends after allclose."

  echo "== Files created or changed by the initiative run"
  (cd "$box" && find . -newer .initiative -type f ! -path './server.out' ! -path './appdata/kvlog/*' | sort)
fi

# ==== Module update ==========================================================================
# A background run in which no installer applies goes on to the module update. A second
# stand-in domain serves upcfg.xml and a module source made from
# tools/server/modules-sample/files; the player folder holds the older modules of
# tools/server/modules-sample/installed. The changed modules are swapped in, each backed up
# first, and the backups and the working folder are gone afterwards. The release also
# changes a few bytes of a larger library, media.dll (made here), and the source carries a
# patch from the installed release's copy: that module travels as the patch.
if [ -x "$bin/OvServer" ]; then
  section "3/7 Module update: build/bin/OvUpdate (background) where no installer applies" \
    "Shows: with no installer to take, the run goes on to the module update: it reads upcfg.xml and" \
    "the module list, downloads the changed modules as zip archives into the working folder" \
    "player/OvUpdate, backs each installed module up and swaps the new one in. media.dll comes as a" \
    "patch against the installed copy (a few KB instead of its full archive)." \
    "Look at: the md5 of the changed modules before and after, the patch line, no backups left, the working folder gone."
  sample=tools/server/modules-sample
  modroot=$box/module-server
  mkdir -p "$modroot/product/OvUpdate"
  # The earlier release as installed, and the new one: the samples plus media.dll, 256 KiB
  # that do not compress, of which the new release changes every 8192th byte.
  mkdir -p "$box/release-earlier" "$box/release-new"
  cp -r "$sample/installed/." "$box/release-earlier/"
  cp -r "$sample/files/." "$box/release-new/"
  python3 - "$box" <<'PY'
import random, sys
data = bytearray(random.Random(7).randbytes(256 * 1024))
open(sys.argv[1] + "/release-earlier/media.dll", "wb").write(data)
for i in range(0, len(data), 8192):
    data[i] ^= 0x5a
open(sys.argv[1] + "/release-new/media.dll", "wb").write(data)
PY
  cp -r "$box/release-earlier/." "$box/player/"

  "$bin/OvServer" --root "$modroot" >"$box/modserver.out" 2>&1 &
  modserver_pid=$!
  trap '[ -n "${modserver_pid:-}" ] && kill "$modserver_pid" 2>/dev/null; cleanup' EXIT
  for _ in $(seq 100); do [ -s "$box/modserver.out" ] && break; sleep 0.05; done
  modserver="http://127.0.0.1:$(head -n1 "$box/modserver.out")"
  # The module source from ovpublish; upcfg.xml and the document without an installer
  # from the samples, with the server's address, signed.
  "$bin/ovpublish" modules "$box/release-new" "$modroot/modules/sample" --delta-from "$box/release-earlier" \
    --sign "$box/keys/ov.key" --root "$modroot"
  echo "== Patches beside the archives:"; (cd "$modroot/modules/sample/bin" && ls -l *.patch *.zip | awk '{print "  " $5 "  " $9}')
  for doc in upcfg.xml OvUpdate.xml; do
    sed "s#@SERVER@#$modserver#g" "$sample/www/product/OvUpdate/$doc" >"$modroot/product/OvUpdate/$doc"
  done
  "$bin/ovpublish" sign --key "$box/keys/ov.key" --root "$modroot" "$modroot"/product/OvUpdate/*.xml >/dev/null
  "$bin/ovpublish" verify "$modroot" --pubkey "$box/keys/ov.pub" --delta-from "$box/release-earlier"
  printf '[servers]\ndomain1=%s\ndomain2=%s\ndomain3=%s\nreport=%s\n' \
    "$modserver" "$modserver" "$modserver" "$modserver" >"$OVUPDATE_DEPLOY"
  echo "== Module source: $modserver/modules/sample (upcfg.xml at $modserver/product/OvUpdate/upcfg.xml)"

  digests() { (cd "$box/player" && find . -type f ! -path './OvUpdate/*' | sort | xargs md5sum); }
  digests >"$box/player.before"
  run_agent "the module update run"
  about_log "创建安装包目录… failed: the save folder is there from the earlier runs, so creating it fails, which is harmless (the agent logs the result of the creation call); compare … fail: a module differs from the list and is downloaded; patch of media.dll applied: it was built from the installed copy and the patch, and checked against the list, instead of downloading its archive; move X to X.bak: the backup before the swap; rollback start/finish before the swap: it restores what an interrupted earlier swap left (nothing here); replace count 2 success and 静默升级完成: the swap is complete."

  echo "== Files of the player folder changed by the module update (old md5 -> new md5)"
  digests >"$box/player.after"
  join -j 2 <(sort -k2 "$box/player.before") <(sort -k2 "$box/player.after") |
    awk '$2 != $3 { print "  " $1 ": " $2 " -> " $3; n++ } END { if (!n) print "  (none)" }'
  echo "== Backups left in the player folder (.bak, .old)"
  left=$(cd "$box/player" && find . -iname '*.bak' -o -iname '*.old')
  echo "  ${left:-(none)}"
  [ -e "$box/player/OvUpdate" ] && echo "== Working folder still present: player/OvUpdate" ||
    echo "== Working folder player/OvUpdate: removed"
fi

# ==== Package through the peer-to-peer engine ================================================
# A background run that takes the installer through the stand-in engine: the registry's
# HKEY_CLASSES_ROOT\NimboProxy leads to a folder with prism.dll, NimboProxy.dll and the
# engine's libcurl.dll; the document names a prismlink and leaves HTTP as the fallback. The
# package is downloaded by the engine, its digest checked, and it is recorded in
# OvUpdate.ini (runnow = 0); the stand-in player's marked window prints the notification
# it gets and that it was brought forward.
if [ -x "$bin/OvServer" ]; then
  section "4/7 Package through the peer-to-peer engine: build/bin/OvUpdate (background) with the stand-in engine" \
    "Shows: the registry leads the agent to the engine (prism.dll); the engine downloads the package," \
    "the agent checks its MD5, records it in OvUpdate.ini and tells the running player's window." \
    "Look at: the prism lines of the log, the package's digest, the record, and what the player window got."
  engine=$box/engine
  mkdir -p "$engine"
  cp "$bin/prism.dll" "$bin/NimboProxy.dll" "$engine/"
  printf 'stand-in of the engine'\''s own HTTP library\n' >"$engine/libcurl.dll"
  cat >>"$OVUPDATE_REGISTRY" <<REG

[HKEY_CLASSES_ROOT\\NimboProxy]
@="$(winpath "$engine/NimboProxy.dll")"
REG

  # The sample document, with the engine's attributes instead of usehttp = 1.
  engroot=$box/engine-server
  cp -r tools/server/www "$engroot"
  pkg=$engroot/packages/OrvixSetup_3.2.0.1.exe
  crc=$(printf '%08x' "$(cksum <"$pkg" | cut -d' ' -f1)")
  sed -i "s#usehttp=\"1\"#usehttp=\"0\" prismlink=\"@SERVER@/packages/OrvixSetup_3.2.0.1.exe\" filesize=\"$(stat -c %s "$pkg")\" crc32=\"$crc\"#" \
    "$engroot/product/OvUpdate/OvUpdate.xml"
  "$bin/OvServer" --root "$engroot" >"$box/engserver.out" 2>&1 &
  engserver_pid=$!
  trap '[ -n "${engserver_pid:-}" ] && kill "$engserver_pid" 2>/dev/null; [ -n "${window_pid:-}" ] && kill "$window_pid" 2>/dev/null; [ -n "${modserver_pid:-}" ] && kill "$modserver_pid" 2>/dev/null; cleanup' EXIT
  for _ in $(seq 100); do [ -s "$box/engserver.out" ] && break; sleep 0.05; done
  engserver="http://127.0.0.1:$(head -n1 "$box/engserver.out")"
  printf '[servers]\ndomain1=%s\ndomain2=%s\ndomain3=%s\nreport=%s\n' \
    "$engserver" "$engserver" "$engserver" "$engserver" >"$OVUPDATE_DEPLOY"
  echo "== Engine folder: $engine; package link: $engserver/packages/OrvixSetup_3.2.0.1.exe"

  # Nothing left from the earlier runs: no package on disk, no record.
  rm -f "$data/OvUpdate/OrvixSetup_3.2.0.1.exe"
  sed -i '/^\[updateinfo\]/,/^updatefile=/d' "$data/OvUpdate.ini"

  "$bin/OrvixPlayer" window --for 120 >"$box/player-window.out" 2>&1 &
  window_pid=$!
  for _ in $(seq 100); do grep -q shown "$box/player-window.out" 2>/dev/null && break; sleep 0.05; done

  run_agent "the engine run"
  about_log "prism …: the agent's calls to the engine (start, callback registered); 下载状态是：5: downloaded; 给窗口1发送copydata: the notification sent to the player's window; 创建安装包目录… failed: the save folder already exists (harmless)."

  echo "== Package on disk and its digest (the document says $(grep -o 'md5="[0-9a-f]*"' \
    "$engroot/product/OvUpdate/OvUpdate.xml" | tail -n1))"
  (cd "$data/OvUpdate" && md5sum OrvixSetup_3.2.0.1.exe 2>/dev/null) || echo "  (no package)"
  echo "== OvUpdate.ini record for the player"
  sed -n '/^\[updateinfo\]/,/^updatefile=/p' "$data/OvUpdate.ini" | tr -d '\r'

  for _ in $(seq 40); do grep -q 'brought forward' "$box/player-window.out" && break; sleep 0.05; done
  echo "== What the stand-in player's marked window got"
  cat "$box/player-window.out"
  kill "$window_pid" 2>/dev/null || true
fi

# ==== Update decision ========================================================================
# A background check against a document whose update elements are each stopped by another
# rule (tools/server/decision-sample/OvUpdate.xml): switched off, player version range,
# distribution channel, region black list, local file version, staged rollout. The last
# element's package already lies in the save folder with the right digest, so it is taken
# without a download. A crash report waiting in the data folder goes to the collection
# endpoint first.
if [ -x "$bin/OvServer" ]; then
  section "5/7 Update decision: build/bin/OvUpdate (background), each rule in the log" \
    "Shows: a document whose update elements are each stopped by another rule, a first download" \
    "domain that is down, a waiting crash report delivered first, and a package already on disk." \
    "Look at: one 节点无效 line per rule, the report the endpoint got, the save folder cleaned up."
  decroot=$box/decision-server
  cp -r tools/server/www "$decroot"
  cp tools/server/decision-sample/OvUpdate.xml "$decroot/product/OvUpdate/OvUpdate.xml"
  mkdir -p "$box/decision-reports"
  "$bin/OvServer" --root "$decroot" --reports "$box/decision-reports" >"$box/decserver.out" 2>&1 &
  decserver_pid=$!
  trap '[ -n "${decserver_pid:-}" ] && kill "$decserver_pid" 2>/dev/null; [ -n "${engserver_pid:-}" ] && kill "$engserver_pid" 2>/dev/null; [ -n "${modserver_pid:-}" ] && kill "$modserver_pid" 2>/dev/null; cleanup' EXIT
  for _ in $(seq 100); do [ -s "$box/decserver.out" ] && break; sleep 0.05; done
  decserver="http://127.0.0.1:$(head -n1 "$box/decserver.out")"
  # The first domain is down: the document comes from the second.
  printf '[servers]\ndomain1=http://127.0.0.1:9\ndomain2=%s\ndomain3=%s\nreport=%s\n' \
    "$decserver" "$decserver" "$decserver" >"$OVUPDATE_DEPLOY"

  printf '[main]\r\nclient=1077\r\n' >"$data/OrvixIS.ini"
  cat >>"$OVUPDATE_REGISTRY" <<REG

[HKEY_CURRENT_USER\\Kavo.FDS]
"area"="cn"
REG
  mkdir -p "$data/OvUpdate"
  cp tools/server/www/packages/OrvixSetup_3.2.0.1.exe "$data/OvUpdate/"
  printf 'stale package\n' >"$data/OvUpdate/OrvixSetup_2.9.0.0.exe"
  printf 'crash of the player\n' >"$data/qserr.dat"
  sed -i '/^\[updateinfo\]/,/^updatefile=/d' "$data/OvUpdate.ini"

  run_agent "the decision run"
  about_log "下载失败 then 下载成功: the first domain is down, the second serves; 节点无效 lines, in order: switched off, player version below the range, distribution channel, region black list (区域无效), local file version, staged rollout (不在灰度内); 已存在…校验成功 and 状态是：3: the package on disk passes its digest, so nothing is downloaded."
  echo "== Crash report received by the endpoint"
  cat "$box"/decision-reports/report-*.txt 2>/dev/null || echo "  (none)"
  echo "== qserr.dat after delivery: $([ -e "$data/qserr.dat" ] && echo present || echo deleted)"
  echo "== Save folder (packages not named by recentfile are removed)"
  ls "$data/OvUpdate"
fi

# ==== Signed release =========================================================================
# A deployment whose deployment file names a release key (made here with minisign -G -W)
# takes only documents with a good minisign signature beside them, and packages matching
# the SHA-256 the document names besides the MD5. First a run against a signed document:
# the package is downloaded, checked by both digests and recorded. Then a mirror changes one
# attribute of the same document and keeps its signature: the document is refused with one
# line naming it and the reason, the other domains are down, so the run enters its retry
# schedule (ended there by the demo), and no package is requested.
if [ -x "$bin/OvServer" ] && command -v minisign >/dev/null; then
  section "6/7 Signed release: a release key in the deployment file, documents signed with minisign" \
    "Shows: a signed document is taken and its package checked by MD5 and SHA-256; the same document" \
    "changed by a mirror is refused, and nothing is downloaded." \
    "Look at: the line 'document … refused: …' in the tampered run's log and the server's requests."
  sigroot=$box/signed-server
  mkdir -p "$sigroot/product/OvUpdate" "$sigroot/packages"
  cp tools/server/www/packages/OrvixSetup_3.2.0.1.exe "$sigroot/packages/"
  "$bin/OvServer" --root "$sigroot" --log "$box/sigserver.log" >"$box/sigserver.out" 2>&1 &
  sigserver_pid=$!
  trap '[ -n "${sigserver_pid:-}" ] && kill "$sigserver_pid" 2>/dev/null; [ -n "${decserver_pid:-}" ] && kill "$decserver_pid" 2>/dev/null; [ -n "${engserver_pid:-}" ] && kill "$engserver_pid" 2>/dev/null; [ -n "${modserver_pid:-}" ] && kill "$modserver_pid" 2>/dev/null; cleanup' EXIT
  for _ in $(seq 100); do [ -s "$box/sigserver.out" ] && break; sleep 0.05; done
  sigserver="http://127.0.0.1:$(head -n1 "$box/sigserver.out")"

  minisign -G -W -p "$box/release.pub" -s "$box/release.key" >/dev/null
  pkg=$sigroot/packages/OrvixSetup_3.2.0.1.exe
  doc=$sigroot/product/OvUpdate/OvUpdate.xml
  cat >"$doc" <<XML
<?xml version="1.0" encoding="utf-8"?>
<updateinfo>
  <Domain><domain>$sigserver</domain></Domain>
  <update name="OrvixSetup_3.2.0.1.exe" ver="3.2.0.1" runnow="0" usehttp="1"
          md5="$(md5sum <"$pkg" | cut -d' ' -f1)" sha256="$(sha256sum <"$pkg" | cut -d' ' -f1)"
          httplink="packages/OrvixSetup_3.2.0.1.exe">
    <file name="absent.dll" path="1"/>
  </update>
</updateinfo>
XML
  minisign -Sm "$doc" -s "$box/release.key" >/dev/null
  printf '[servers]\ndomain1=%s\ndomain2=http://127.0.0.1:9\ndomain3=http://127.0.0.1:9\nreport=%s\npublickey=%s\n' \
    "$sigserver" "$sigserver" "$(sed -n 2p "$box/release.pub")" >"$OVUPDATE_DEPLOY"
  echo "== Deployment file"
  cat "$OVUPDATE_DEPLOY"
  echo "== Signature served beside the document ($sigserver/product/OvUpdate/OvUpdate.xml.minisig)"
  cat "$doc.minisig"

  rm -f "$data/OvUpdate/OrvixSetup_3.2.0.1.exe"
  sed -i '/^\[updateinfo\]/,/^updatefile=/d' "$data/OvUpdate.ini"
  run_agent "the signed run"
  echo "== Package on disk (SHA-256) and what OvUpdate.ini records"
  (cd "$data/OvUpdate" && sha256sum OrvixSetup_3.2.0.1.exe 2>/dev/null) || echo "  (no package)"
  sed -n '/^\[updateinfo\]/,/^updatefile=/p; /^\[signatures\]/,/^OvUpdate.xml=/p' "$data/OvUpdate.ini" | tr -d '\r'

  echo
  echo "== Tampered: a mirror changes runnow to 1 (start at once) and keeps the signature"
  sed -i 's/runnow="0"/runnow="1"/' "$doc"
  rm -f "$data/OvUpdate/OrvixSetup_3.2.0.1.exe"
  : >"$box/sigserver.log"
  log_mark
  (cd "$box" && exec "$bin/OvUpdate") &
  agent_pid=$!
  for _ in $(seq 200); do
    new_log | grep -q '现在开始重试' && break
    sleep 0.1
  done
  kill "$agent_pid" 2>/dev/null || true
  wait "$agent_pid" 2>/dev/null || true
  echo "== Diagnostic log of the tampered run (ended by the demo in its retry schedule)"
  new_log
  echo "== What the server was asked for"
  sed 's/^/  /' "$box/sigserver.log"
  echo "== Package on disk: $([ -e "$data/OvUpdate/OrvixSetup_3.2.0.1.exe" ] && echo present || echo none)"
fi

# ==== Resumed download ========================================================================
# The package server drops the connection after 90% of the package; the agent keeps the bytes
# in <package>.partial with its record and asks for the rest with Range and If-Range.
if [ -n "$server" ] && command -v python3 >/dev/null; then
  section "7/7 Resumed download: build/bin/OvUpdate (background), the package server cuts the connection at 90%" \
    "Shows: the bytes already on disk are kept and only the rest is asked for (Range, If-Range);" \
    "the digest check then passes over the whole package, and no partial file is left." \
    "Look at: the line 'download of ... cut after ... bytes, resuming' and the bytes the server sent."
  resroot=$box/resume-server
  mkdir -p "$resroot/product/OvUpdate"
  pkg=tools/server/www/packages/OrvixSetup_3.2.0.1.exe
  mkfifo "$box/cut.in"
  python3 bench/cutting_server.py "$pkg" "$box/cut.port" "$box/cut.wire" <"$box/cut.in" &
  cutserver_pid=$!
  exec 4>"$box/cut.in"
  "$bin/OvServer" --root "$resroot" >"$box/resserver.out" 2>&1 &
  resserver_pid=$!
  trap '[ -n "${cutserver_pid:-}" ] && kill "$cutserver_pid" 2>/dev/null; [ -n "${resserver_pid:-}" ] && kill "$resserver_pid" 2>/dev/null; [ -n "${sigserver_pid:-}" ] && kill "$sigserver_pid" 2>/dev/null; [ -n "${decserver_pid:-}" ] && kill "$decserver_pid" 2>/dev/null; [ -n "${engserver_pid:-}" ] && kill "$engserver_pid" 2>/dev/null; [ -n "${modserver_pid:-}" ] && kill "$modserver_pid" 2>/dev/null; cleanup' EXIT
  for _ in $(seq 100); do [ -s "$box/resserver.out" ] && [ -s "$box/cut.port" ] && break; sleep 0.05; done
  resserver="http://127.0.0.1:$(head -n1 "$box/resserver.out")"
  size=$(stat -c %s "$pkg")
  cat >"$resroot/product/OvUpdate/OvUpdate.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<updateinfo>
  <update name="OrvixSetup_3.2.0.1.exe" ver="3.2.0.1" runnow="0" usehttp="1" filesize="$size"
          md5="$(md5sum <"$pkg" | cut -d' ' -f1)"
          httplinkfull="http://127.0.0.1:$(cat "$box/cut.port")/packages/OrvixSetup_3.2.0.1.exe">
    <file name="absent.dll" path="1"/>
  </update>
</updateinfo>
XML
  printf '[servers]\ndomain1=%s\ndomain2=http://127.0.0.1:9\ndomain3=http://127.0.0.1:9\nreport=%s\n' \
    "$resserver" "$resserver" >"$OVUPDATE_DEPLOY"
  echo "cut $((size * 9 / 10))" >&4
  sleep 0.2
  rm -f "$data/OvUpdate/OrvixSetup_3.2.0.1.exe"
  sed -i '/^\[updateinfo\]/,/^updatefile=/d' "$data/OvUpdate.ini"
  run_agent "the resuming run"
  about_log "cut after N bytes, resuming: the first answer ended at 90%, the next request asked for the rest; check md5 success: the whole package is the right one."
  echo "== The package server sent $(cat "$box/cut.wire") bytes for a package of $size bytes"
  echo "== Package folder:"
  ls "$data/OvUpdate" | sed 's/^/  /'
fi
echo
echo "==== Done: seven sections. OV_KEEP_DEMO=1 scripts/demo.sh keeps the sandbox folder to look around in."
