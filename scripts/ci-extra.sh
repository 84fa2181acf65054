#!/usr/bin/env bash
# Extra CI steps, one section per layer that needs them; .ci/run calls this last.
set -euo pipefail
cd "$(dirname "$0")/.."

# -- dial-up: the hand-over of dialling progress from the provider's thread to the GUI
# thread, under ThreadSanitizer. Only the dial-up tests are built and run (about a minute).
echo "== ThreadSanitizer build (dial-up tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPV_SANITIZE=thread \
  -DPV_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target dialup_tests
# die_after_fork=0: the tests start dbus-daemon and the NetworkManager stand-in, which exec
# right after the fork.
TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$PWD/tests/dialup/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j2 -L dialup

# -- message: the decoder and encoder under libFuzzer with ASan and UBSan, for 60 seconds.
# Seeds: Python's email test messages and the small messages of the generated corpus.
echo "== fuzz: message decoder and encoder"
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz --target message_fuzzer
/usr/bin/python3 tests/data/message/make_corpus.py tests/data/generated/message
rm -rf fuzz/corpus-run
mkdir -p fuzz/corpus-run
cp /usr/lib/python3.11/test/test_email/data/msg_*.txt fuzz/corpus-run/
find tests/data/generated/message -name '*.eml' -size -256k -exec cp {} fuzz/corpus-run/ \;
build-fuzz/message_fuzzer -max_total_time=60 -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -dict=fuzz/message.dict -artifact_prefix=build-fuzz/ -print_final_stats=1 fuzz/corpus-run

# The same target on large inputs, with a time limit per input: work that grows faster than
# the message (a quadratic pass over a header, a part or a line list) shows as a timeout.
# Seeds: the whole generated corpus and hostile shapes of about a megabyte.
echo "== fuzz: large messages, 5 seconds per input"
rm -rf fuzz/corpus-large
mkdir -p fuzz/corpus-large
find tests/data/generated/message -name '*.eml' -exec cp {} fuzz/corpus-large/ \;
/usr/bin/python3 - fuzz/corpus-large <<'PY'
import sys, pathlib
out = pathlib.Path(sys.argv[1])
head = "From: a@b\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
shapes = {
    "fields": head + "Content-Type: text/plain\r\n" * 40000 + "\r\nbody\r\n",
    "parts": head + 'Content-Type: multipart/mixed; boundary="b"\r\n\r\n'
             + "--b\r\n\r\n" * 140000 + "--b--\r\n",
    "lines": head + "\r\n" + "\n" * 1000000,
    "begins": "From: a@b\r\n\r\n" + "BEGIN 644 A\r\n" * 80000 + "x\r\n",
    "subject": head.replace("Subject: s", "Subject: " + "=?a?B?x " * 120000) + "\r\nbody\r\n",
    "to": head + "To: " + "=?a?B?x " * 120000 + "\r\n\r\nbody\r\n",
    "tiny-fields": head + "X:\r\n" * 250000 + "\r\nbody\r\n",
    "folded-field": head + "X-Folded:\r\n" + " x\r\n" * 250000 + "\r\nbody\r\n",
    "base64-75": head + "Content-Type: application/octet-stream; name=a.bin\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\n"
                 + "".join("QUJD" * 18 + "QUJ\r\n" for _ in range(12000)),
}
for name, text in shapes.items():
    (out / f"hostile-{name}.eml").write_bytes(text.encode("latin-1"))
PY
build-fuzz/message_fuzzer -max_total_time=60 -max_len=1048576 -timeout=5 -rss_limit_mb=2048 \
  -dict=fuzz/message.dict -artifact_prefix=build-fuzz/large- -print_final_stats=1 \
  fuzz/corpus-large
