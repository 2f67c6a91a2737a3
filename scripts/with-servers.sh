#!/usr/bin/env bash
# Runs a command beside loopback test servers and stops them afterwards:
#   nginx over HTTPS (self-signed certificate) and plain HTTP, serving a fresh document root;
#   /redirect/NAME answers 302 to https://127.0.0.1:PORT/NAME; a file NAME beside which a file
#   NAME.fault lies is handed over to the fault server, which serves it with the faults that the
#   companion names (byte ranges and validators as nginx gives them included);
#   the scripted fault server (tests/servers/fault_server.py) over HTTP and HTTPS, which records
#   every request it gets in a log;
#   tinyproxy as an open forward proxy, and a second one that wants Basic credentials
#   (user "qerv", password "secret") and so answers 407. Only the proxies resolve the name
#   qerv-update.test (to 127.0.0.1): through them it reaches these servers, directly it fails.
# The command learns where they are from the environment:
#   QERV_TEST_HTTPS_PORT, QERV_TEST_HTTP_PORT, QERV_TEST_WWW (document root, Linux path),
#   QERV_TEST_WWW_WIN (the same folder as Wine sees it), QERV_TEST_FAULT_HTTP_PORT,
#   QERV_TEST_FAULT_HTTPS_PORT, QERV_TEST_FAULT_LOG and QERV_TEST_FAULT_LOG_WIN (the fault
#   server's request log, Linux and Wine path), QERV_TEST_PROXY_PORT, QERV_TEST_AUTH_PROXY_PORT
#   and QERV_TEST_CERT (the server certificate, PEM, Linux path).
# The servers listen on 127.0.0.1 only and end by themselves after QERV_SERVER_LIFETIME seconds
# even if this script is killed. QERV_HTTPS_PORT fixes the HTTPS port (the setup has its server
# address compiled in).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lifetime=${QERV_SERVER_LIFETIME:-900}
proxy_only_host=qerv-update.test

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
# The setup has its server address compiled in, so its tests ask for a fixed HTTPS port.
https_port=${QERV_HTTPS_PORT:-$(free_port)}
http_port=$(free_port)

timeout "$lifetime" /usr/bin/python3 "$root/tests/servers/fault_server.py" --port-file "$run/fault.port" \
  --cert "$cert_dir/server.crt" --key "$cert_dir/server.key" --lifetime "$lifetime" \
  --www "$www" --request-log "$run/fault-requests.log" &
pids+=($!)

for _ in $(seq 100); do [ -f "$run/fault.port" ] && break; sleep 0.1; done
read -r fault_http_port fault_https_port <"$run/fault.port"

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
    # /redirect/NAME answers 302 to /NAME on the HTTPS port.
    location ~ ^/redirect/(.*)$ { return 302 https://127.0.0.1:$https_port/\$1; }
    # A file with a fault companion goes through the fault server, as it arrives.
    proxy_buffering off;
    location / {
      if (-f \$request_filename.fault) {
        rewrite ^(.*)\$ /file\$1 break;
        proxy_pass http://127.0.0.1:$fault_http_port;
      }
    }
  }
}
CONF
timeout "$lifetime" nginx -c "$run/nginx.conf" -e "$run/error.log" &
pids+=($!)

proxy_port=$(free_port)
auth_proxy_port=$(free_port)
{ cat /etc/hosts; echo "127.0.0.1 $proxy_only_host"; } >"$run/hosts"
for kind in open auth; do
  port=$proxy_port
  auth=
  if [ $kind = auth ]; then port=$auth_proxy_port; auth="BasicAuth qerv secret"; fi
  cat >"$run/tinyproxy-$kind.conf" <<CONF
User nobody
Group nogroup
Port $port
Listen 127.0.0.1
Timeout 60
MaxClients 16
Allow 127.0.0.1
LogLevel Warning
LogFile "$run/tinyproxy-$kind.log"
PidFile "$run/tinyproxy-$kind.pid"
DisableViaHeader Yes
$auth
CONF
  # The proxies resolve the update server's test name, which nothing else on the machine does:
  # a setup can then reach it through a proxy while its direct attempts fail.
  timeout "$lifetime" unshare -m sh -c 'mount --bind "$1" /etc/hosts && shift && exec "$@"' sh "$run/hosts" \
    tinyproxy -d -c "$run/tinyproxy-$kind.conf" >/dev/null 2>&1 &
  pids+=($!)
done
chmod 777 "$run"

wait_port() {
  for _ in $(seq 100); do
    if /usr/bin/python3 - "$1" <<'PY' 2>/dev/null; then return 0; fi
import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.2).close()
PY
    sleep 0.1
  done
  echo "with-servers: nothing listens on port $1" >&2
  return 1
}
for p in "$https_port" "$http_port" "$fault_http_port" "$fault_https_port" "$proxy_port" "$auth_proxy_port"; do
  wait_port "$p"
done

export QERV_TEST_HTTPS_PORT=$https_port QERV_TEST_HTTP_PORT=$http_port QERV_TEST_WWW=$www
export QERV_TEST_WWW_WIN="Z:${www//\//\\}"
export QERV_TEST_FAULT_HTTP_PORT=$fault_http_port QERV_TEST_FAULT_HTTPS_PORT=$fault_https_port
export QERV_TEST_FAULT_LOG=$run/fault-requests.log
export QERV_TEST_FAULT_LOG_WIN="Z:${run//\//\\}\\fault-requests.log"
export QERV_TEST_PROXY_PORT=$proxy_port QERV_TEST_AUTH_PROXY_PORT=$auth_proxy_port
export QERV_TEST_CERT=$cert_dir/server.crt
set +e
"$@"
rc=$?
set -e
exit $rc
