# Sourced by the download benchmarks: a random package of $size_mib MiB served by OvServer
# from $work/www. Sets server_pid (for the caller's clean-up), port and expected (its MD5).
serve_random_package() {
    mkdir -p "$work/www/packages"
    head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/www/packages/big.bin"
    "$bin/OvServer" --root "$work/www" > "$work/port" &
    server_pid=$!
    for _ in 1 2 3 4 5 6 7 8 9 10; do [ -s "$work/port" ] && break; sleep 0.2; done
    port=$(head -n1 "$work/port")
    expected=$(md5sum < "$work/www/packages/big.bin" | cut -d' ' -f1)
}
