# Sourced by scripts and benchmarks: nginx serving a folder on 127.0.0.1, in
# the foreground of a background job, with its files and logs in
# WORK_FOLDER/nginx.
#
#   start_static_server ROOT WORK_FOLDER [PORT ...]
# Listens on the ports given, or on a free one. Sets `port` (the first) and
# `server_pid` (the caller stops it) once nginx answers on every port; exits
# 1 with nginx's error log when it does not start.
start_static_server() {
  local root=$1 conf=$2/nginx user_line="" listen="" p
  shift 2
  local ports=("$@")
  if [[ ${#ports[@]} -eq 0 ]]; then
    ports=("$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')")
  fi
  port=${ports[0]}
  for p in "${ports[@]}"; do listen+="listen 127.0.0.1:$p; "; done
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
  access_log $conf/logs/access.log;
  client_body_temp_path $conf/body;
  proxy_temp_path $conf/proxy;
  fastcgi_temp_path $conf/fastcgi;
  uwsgi_temp_path $conf/uwsgi;
  scgi_temp_path $conf/scgi;
  sendfile on;
  types { }
  default_type application/octet-stream;
  server { $listen root $root; }
}
CONF
  # A lock the caller holds on descriptor 9 stays the caller's.
  nginx -e "$conf/logs/error.log" -p "$conf" -c "$conf/nginx.conf" 9>&- &
  server_pid=$!
  for p in "${ports[@]}"; do
    for _ in $(seq 100); do
      (exec 3<> "/dev/tcp/127.0.0.1/$p") 2> /dev/null && break
      sleep 0.1
    done
    (exec 3<> "/dev/tcp/127.0.0.1/$p") 2> /dev/null && continue
    echo "nginx did not start on port $p" >&2
    cat "$conf/logs/error.log" >&2
    exit 1
  done
}
