# Sourced by scripts and benchmarks: nginx serving a folder on a free port of
# 127.0.0.1, in the foreground of a background job.
#
#   start_static_server ROOT WORK_FOLDER
# Sets `port` and `server_pid` (the caller stops it) once nginx answers;
# exits 1 with nginx's error log when it does not start.
start_static_server() {
  local root=$1 conf=$2/nginx user_line=""
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$conf/logs"
  [[ $(id -u) -eq 0 ]] && user_line="user root root;"
  cat > "$conf/nginx.conf" <<CONF
$user_line
daemon off;
master_process off;
error_log $conf/logs/error.log;
pid $conf/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $conf/body;
  proxy_temp_path $conf/proxy;
  fastcgi_temp_path $conf/fastcgi;
  uwsgi_temp_path $conf/uwsgi;
  scgi_temp_path $conf/scgi;
  sendfile on;
  types { }
  default_type application/octet-stream;
  server { listen 127.0.0.1:$port; root $root; }
}
CONF
  # A lock the caller holds on descriptor 9 stays the caller's.
  nginx -e "$conf/logs/error.log" -p "$conf" -c "$conf/nginx.conf" 9>&- &
  server_pid=$!
  for _ in $(seq 100); do
    (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && return 0
    sleep 0.1
  done
  echo "nginx did not start on port $port" >&2
  cat "$conf/logs/error.log" >&2
  exit 1
}
