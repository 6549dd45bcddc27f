# SPDX-License-Identifier: MIT
"""Where an installed Broker lives; the install rewrites this file with its own prefix."""

BROKER_PATH = "/usr/lib/mailbroker/mailbroker"
