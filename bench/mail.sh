#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The mail commands end to end, in one run: a silent SendMail with a 10, 50 and
# 100 MiB attachment beside base64(1) of the same file (target: at most 3x),
# the Broker's peak memory for each (it should stay flat), and
# AutoCompleteFileName requests per second on 1 and 8 connections; then
# delivery through the Broker beside msmtp.
#
#   bash bench/mail.sh [WORKDIR] [REPEATS] [SECONDS]   (defaults /var/tmp 3 3)
#   MB_BENCH_BUILD_DIR=build/bench-release bash bench/mail.sh
set -euo pipefail

. "$(dirname "$0")/release_build.sh"
mb_build_bench mb_mail_bench mb_broker_delivery_bench
"$build/bench/mb_mail_bench" "$@"
# 100 silent SendMails delivered to a loopback SMTP server beside msmtp alone
# (target: the Broker at least half as fast).
"$build/bench/mb_broker_delivery_bench" 100 2000
