#!/usr/bin/env bash
# Runs a command beside loopback test servers and stops them afterwards:
#   nginx over HTTPS (self-signed certificate) and plain HTTP, serving a fresh document root.
# The command learns where they are from the environment:
#   QERV_TEST_HTTPS_PORT, QERV_TEST_HTTP_PORT, QERV_TEST_WWW (document root, Linux path) and
#   QERV_TEST_WWW_WIN (the same folder as Wine sees it).
# The servers listen on 127.0.0.1 only and end by themselves after QERV_SERVER_LIFETIME seconds
# even if this script is killed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lifetime=${QERV_SERVER_LIFETIME:-900}

run=$(mktemp -d /tmp/qerv-servers.XXXXXX)
chmod 755 "$run"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT INT TERM

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

cert_dir=$root/build/test-cert
if [ ! -f "$cert_dir/server.crt" ]; then
  mkdir -p "$cert_dir"
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
    -keyout "$cert_dir/server.key" -out "$cert_dir/server.crt" >/dev/null 2>&1
fi

www=$run/www
mkdir -p "$www" "$run/tmp"
printf 'hello from nginx\n' >"$www/hello.txt"
https_port=$(free_port)
http_port=$(free_port)

cat >"$run/nginx.conf" <<CONF
daemon off;
worker_processes 1;
user root;
pid $run/nginx.pid;
error_log $run/error.log warn;
events { worker_connections 64; }
http {
  access_log $run/access.log;
  client_body_temp_path $run/tmp/body;
  proxy_temp_path $run/tmp/proxy;
  fastcgi_temp_path $run/tmp/fastcgi;
  uwsgi_temp_path $run/tmp/uwsgi;
  scgi_temp_path $run/tmp/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$http_port;
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $cert_dir/server.crt;
    ssl_certificate_key $cert_dir/server.key;
    root $www;
  }
}
CONF
timeout "$lifetime" nginx -c "$run/nginx.conf" -e "$run/error.log" &
pids+=($!)

for _ in $(seq 100); do
  if /usr/bin/python3 - "$https_port" <<'PY' 2>/dev/null; then break; fi
import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.2).close()
PY
  sleep 0.1
done

export QERV_TEST_HTTPS_PORT=$https_port QERV_TEST_HTTP_PORT=$http_port QERV_TEST_WWW=$www
export QERV_TEST_WWW_WIN="Z:${www//\//\\}"
set +e
"$@"
rc=$?
set -e
exit $rc
