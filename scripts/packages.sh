# SPDX-License-Identifier: MIT
# Sourced by the scripts: installs the Debian packages named as arguments that
# are not installed yet (with apt-get, as root).
mb_install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages and not root: run as root, or install them first" >&2
    return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What building and running the Broker, the provider, the client and the
# desktop dialogs needs; shared-mime-info gives attachments their media type;
# OpenSSL's headers for the certificate pin, libsecret for mailbroker-secret;
# scdoc turns the manual pages' sources into pages.
MB_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config libinih-dev libgmime-3.0-dev
  libcurl4-openssl-dev libssl-dev libsecret-1-dev nlohmann-json3-dev libgtk-4-dev shared-mime-info
  scdoc)

# What the tests need besides: a loopback SMTP server and a sendmail interface
# to drive against it; an X server without a screen, key strokes, window
# properties and screenshots for the dialogs; mail readers that read back what
# the renderer writes (Perl's Encode, ripmime and munpack) and the MIME
# database it takes media types from; certificates made at run time for the
# TLS tests, and a D-Bus session with a keyring for the Secret Service test;
# lintian checks the Debian packages; a virtual environment, pip and
# setuptools install the Python module as its users do; man renders the
# manual pages and reports their warnings.
MB_TEST_PACKAGES=(python3-aiosmtpd msmtp xvfb xauth xdotool x11-utils imagemagick perl mpack
  ripmime shared-mime-info python3-cryptography dbus-daemon gnome-keyring libsecret-tools
  lintian python3-venv python3-pip python3-setuptools man-db)
