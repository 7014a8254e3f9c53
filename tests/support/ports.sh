# Every fixed port of the test fixtures and benchmarks, all on 127.0.0.1.
# One NAME=number line each and nothing else on it: the shell sources this
# file (tests/support/fixture-lib.sh), CMake reads it with file(STRINGS) and
# gives the C++ tests a header of it, JScript tests get it as variables
# (tests/support/script-prelude.sh), Python reads it with
# tests/support/ports.py. The fault server's cases name their own ports
# (tests/data/faults/*/*.case: 11931-11964, 12526-12538, 12593-12598).

# INN (tests/news/inn-fixture.sh)
QK_PORT_INN=11919
QK_PORT_INN_AUTH=11920
QK_PORT_INN_TLS=11923
QK_PORT_INN_STARTTLS=11924
QK_PORT_INN_READONLY=11925
# The instance that holds only the golden articles (script/news_articles.js)
QK_PORT_INN_ARTICLES=11921
QK_PORT_INN_ARTICLES_AUTH=11922
# Where nobody listens: the refused-connection tests
QK_PORT_NEWS_CLOSED=11999
QK_PORT_MAILWEB_CLOSED=12599

# Mail: the aiosmtpd sink (tests/mailweb/mail-fixture.sh), its TLS
# listeners (tests/tls/tls-fixture.sh) and Postfix (postfix-fixture.sh)
QK_PORT_SMTP_SINK=12525
QK_PORT_SMTP_STARTTLS=12540
QK_PORT_SMTP_IMPLICIT_TLS=12541
QK_PORT_POSTFIX=12590
QK_PORT_POSTFIX_NEITHER=12591
QK_PORT_POSTFIX_CHUNKING=12592
# Benchmarks only: counting sinks and the round-trip counting relay
QK_PORT_BENCH_SMTP_SINK=12545
QK_PORT_BENCH_SMTP_STARTTLS=12550
QK_PORT_BENCH_TURN_RELAY=12589

# Web: nginx and tinyproxy (tests/mailweb/web-fixture.sh), the HTTPS
# servers with the test certificates (tests/tls/tls-fixture.sh)
QK_PORT_NGINX=12580
QK_PORT_PROXY=12588
QK_PORT_HTTPS_GOOD=12560
QK_PORT_HTTPS_EXPIRED=12561
QK_PORT_HTTPS_WRONG_HOST=12562
QK_PORT_HTTPS_SELF_SIGNED=12563
QK_PORT_HTTPS_UNKNOWN_ROOT=12564

# News site instances (tests/site/site-fixture.sh): a base port each ...
QK_PORT_SITE_DEMO=12600
QK_PORT_SITE_BROWSER=12700
QK_PORT_SITE_BENCH=12800
# ... and what lies at which distance from it
QK_SITE_INN=19
QK_SITE_INN_AUTH=20
QK_SITE_MAIL=25
QK_SITE_NGINX=80
QK_SITE_HOST=81
QK_SITE_FETCH=82
QK_SITE_LOAD_HOST_B=83
QK_SITE_LOAD_HOST_C=84
# (and QK_SITE_HOST + 4 the load test's slow web server: tests/site/pages/slow_fetch.asp)
