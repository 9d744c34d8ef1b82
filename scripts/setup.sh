#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test Webcam Zantrel.
# Safe to run again: apt-get skips what is already there. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-x gstreamer1.0-gl gstreamer1.0-tools
  libturbojpeg0-dev libjpeg-turbo-progs
  libcurl4-openssl-dev libssl-dev curl
  python3 python3-pyftpdlib python3-aiosmtpd vsftpd
  openssl openssh-server openssh-client
  python3-dbusmock dbus dbus-daemon
  xvfb xauth fonts-dejavu-core
  fswebcam
  libqt6svg6 trayer xdotool openbox x11-utils desktop-file-utils appstream
  libmicrohttpd-dev chromium nginx-light
  libsystemd-dev
  gstreamer1.0-plugins-ugly ffmpeg
  python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-libav
  apache2 apache2-utils rclone python3-botocore libnginx-mod-http-dav-ext
  libsecret-1-dev gnome-keyring libsecret-tools
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
# vsftpd's and apache2's packages start system-wide servers; the tests start their own on high ports.
for service in vsftpd apache2; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$service" 2>/dev/null; then
    $SUDO systemctl stop "$service" || true
  fi
done
