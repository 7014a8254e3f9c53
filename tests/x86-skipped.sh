#!/bin/sh
# Stands in for a 32-bit test where the kernel runs no 32-bit programs:
# 32-bit Wine cannot start there, so the test is reported as skipped (the
# exit code ctest takes as a skip), never as passed.
echo "skipped: this kernel does not run 32-bit programs, so 32-bit Wine cannot start here"
exit "${1:-77}"
