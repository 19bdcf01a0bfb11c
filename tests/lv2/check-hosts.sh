# The LV2 bundle in real hosts. Sourced by scripts/test, which provides pass,
# fail, desktop_libs, the built linux-x64 folder and a virtual display: the validator, jalv
# on a JACK server with the dummy driver (a preset loaded, its latency
# reported, audio through it), jalv.gtk3 showing the editor, pictured
# against the VST2 editor at rest, and Ardour rendering through it beside the
# VST2 file. Every host run has a time limit.

lv2_folder=build/linux-x64
lv2_out=build/lv2-hosts
rm -rf "$lv2_out"
mkdir -p "$lv2_out"

# ---- Validator: no error and no warning ----
if lv2_validate "$lv2_folder"/Grindlemark.lv2/*.ttl > "$lv2_out/validate.log" 2>&1 &&
   grep -q '^Found 0 errors' "$lv2_out/validate.log" && ! grep -qi 'warn' "$lv2_out/validate.log"; then
  pass "lv2_validate: $(grep '^Found' "$lv2_out/validate.log")"
else
  fail "lv2_validate ($lv2_out/validate.log): $(grep -m3 -iE 'error|warn' "$lv2_out/validate.log" | tr '\n' ' ')"
fi

# ---- The binary: the two LV2 entry points, desktop libraries only ----
lv2_binary=$lv2_folder/Grindlemark.lv2/Grindlemark.so
lv2_exports=$(nm -D --defined-only "$lv2_binary" | awk '{print $3}' | sort | tr '\n' ' ')
lv2_needed=$(readelf -d "$lv2_binary" | awk '/NEEDED/ {gsub(/[][]/, "", $5); print $5}')
if [ "$lv2_exports" = "lv2_descriptor lv2ui_descriptor " ] && [ -n "$lv2_needed" ] &&
   ! echo "$lv2_needed" | grep -vqE "$desktop_libs"; then
  pass "LV2 binary exports lv2_descriptor and lv2ui_descriptor only and needs $(echo $lv2_needed | tr ' ' ',')"
else
  fail "LV2 binary exports $lv2_exports and needs $(echo $lv2_needed)"
fi

# ---- A JACK server of our own, on the dummy driver ----
lv2_jack=grindlemark-test-$$
jackd -n "$lv2_jack" -d dummy -r 48000 -p 256 > "$lv2_out/jackd.log" 2>&1 &
lv2_jack_pid=$!
# Hosts see this bundle alone (the build folder holds much else).
mkdir -p "$lv2_out/lv2"
ln -s "$root/$lv2_folder/Grindlemark.lv2" "$lv2_out/lv2/Grindlemark.lv2"
# A command, not a function: a host started in the background is then this
# very process (env and timeout exec it), so that killing it ends the host.
lv2_hosts=(env LV2_PATH="$root/$lv2_out/lv2" JACK_DEFAULT_SERVER="$lv2_jack" timeout -k 5)
if ! "${lv2_hosts[@]}" 20 jack_wait -w -t 15 > /dev/null 2>&1; then
  fail "jackd with the dummy driver did not start ($lv2_out/jackd.log)"
else
  # jalv reads commands from a pipe: the preset "Fat overdrive", then the
  # output ports until the latency of its 16x path shows (at most 20 s).
  lv2_fifo=$lv2_out/jalv-commands
  mkfifo "$lv2_fifo"
  "${lv2_hosts[@]}" 60 jalv -x -n grindlemark-jalv urn:ovk:grindlemark < "$lv2_fifo" > "$lv2_out/jalv.log" 2>&1 &
  lv2_jalv_pid=$!
  exec {lv2_commands}> "$lv2_fifo"
  printf "presets\npreset urn:ovk:grindlemark#program1\n" >&$lv2_commands
  for _ in $(seq 1 40); do
    echo monitors >&$lv2_commands
    grep -q '^> *latency = 9\.0*$\|^latency = 9\.0*$' "$lv2_out/jalv.log" && break
    sleep 0.5
  done
  # Clicks from a metronome through it into a recording.
  "${lv2_hosts[@]}" 20 jack_metro -n grindlemark-metro -b 240 > /dev/null 2>&1 &
  lv2_metro_pid=$!
  for _ in $(seq 1 40); do
    "${lv2_hosts[@]}" 5 jack_lsp 2> /dev/null | grep -q '^grindlemark-metro:' && break
    sleep 0.25
  done
  "${lv2_hosts[@]}" 10 jack_connect grindlemark-metro:240_bpm grindlemark-jalv:in_left > /dev/null 2>&1
  "${lv2_hosts[@]}" 20 jack_rec -f "$lv2_out/jalv-out.wav" -d 2 -b 16 grindlemark-jalv:out_left > /dev/null 2>&1
  kill "$lv2_metro_pid" 2> /dev/null # timeout passes it on, and kills what stays
  echo controls >&$lv2_commands
  exec {lv2_commands}>&-
  wait "$lv2_jalv_pid"
  lv2_status=$?
  { wait "$lv2_metro_pid"; } 2> /dev/null
  lv2_peak=$(python3 -c 'import sys, wave, array
w = wave.open(sys.argv[1]); a = array.array("h", w.readframes(w.getnframes()))
print(max((abs(v) for v in a), default=0))' "$lv2_out/jalv-out.wav" 2> /dev/null || echo 0)
  if [ "$lv2_status" -eq 0 ] && grep -q 'latency = 9\.0' "$lv2_out/jalv.log" &&
     grep -q 'oversample = 1\.0' "$lv2_out/jalv.log" && [ "${lv2_peak:-0}" -gt 0 ]; then
    pass "jalv on JACK's dummy driver: preset \"Fat overdrive\" loaded, latency 9 reported, clicks through it peak at $lv2_peak/32767"
  else
    fail "jalv on JACK's dummy driver (exit $lv2_status, output peak ${lv2_peak:-none}; $lv2_out/jalv.log)"
  fi

  # ---- jalv.gtk3 shows the editor; at rest it equals the VST2 editor ----
  # jalv runs the plug-in on silence from the start, so the VST2 editor is
  # pictured with silence playing too (the response curve shows once audio runs).
  build/linux-x64/grindlemark-host --plugin build/linux-x64/Grindlemark.so --editor --program Default --silence \
    --screenshot "$lv2_out/vst2-editor.png" --after 2500 > "$lv2_out/vst2-editor.log" 2>&1
  "${lv2_hosts[@]}" 60 jalv.gtk3 -x --jack-name grindlemark-gui urn:ovk:grindlemark > "$lv2_out/jalv-gtk3.log" 2>&1 &
  lv2_gui_pid=$!
  lv2_window=
  lv2_equal=
  for _ in $(seq 1 80); do
    lv2_window=$(xwininfo -root -tree 2> /dev/null | awk '/ 606x291\+/ {id = $1} END {print id}')
    [ -n "$lv2_window" ] && break
    sleep 0.25
  done
  # At rest the panel stops changing once its first refreshes are drawn: the
  # picture is taken when two in a row agree, then compared once.
  lv2_result="no 606 x 291 panel window appeared"
  lv2_shot=$lv2_out/jalv-editor.png
  if [ -n "$lv2_window" ]; then
    lv2_result="the panel never came to rest"
    for _ in $(seq 1 40); do
      sleep 0.5
      import -window "$lv2_window" "$lv2_out/jalv-editor-next.png" 2> /dev/null || continue
      if [ -f "$lv2_shot" ] && scripts/compare-pictures "$lv2_shot" "$lv2_out/jalv-editor-next.png" > /dev/null 2>&1; then
        lv2_result=$(scripts/compare-pictures "$lv2_shot" "$lv2_out/vst2-editor.png" --diff "$lv2_out/jalv-editor-diff.png" 2>&1) &&
          lv2_equal=1
        break
      fi
      mv "$lv2_out/jalv-editor-next.png" "$lv2_shot"
    done
  fi
  kill "$lv2_gui_pid" 2> /dev/null
  wait "$lv2_gui_pid" 2> /dev/null
  if [ -n "${lv2_equal:-}" ]; then
    pass "jalv.gtk3 shows the editor; at rest it equals the VST2 editor: $lv2_result"
  else
    fail "jalv.gtk3 editor against the VST2 editor ($lv2_out/jalv-editor*.png, $lv2_out/jalv-gtk3.log): $lv2_result"
  fi
fi
# ---- Ardour: the LV2 beside the VST2 file in one session ----
# "Fat overdrive" loaded and Drive set in each format's terms (LV2: the
# preset by name, Drive in dB; VST2: program 1, Drive normalised), the two
# plug-ins starting in the same process cycle, so their outputs compare
# sample for sample. What is left is at the last bit of a few samples: Ardour
# runs an LV2 plug-in once on silence when it loads it (to read its latency
# port), before the preset; the VST2 one is spared that run.
if command -v ardour7-lua > /dev/null; then
  if tests/hosts/ardour-render lv2 "$lv2_folder/Grindlemark.lv2" "$lv2_out/ardour.wav" "Fat overdrive" "4=16" \
       --beside vst2 "$lv2_folder/Grindlemark.so" 1 "4=0.8" > "$lv2_out/ardour.log" 2>&1 &&
     grep -q "preset Fat overdrive (urn:ovk:grindlemark#program1)" "$lv2_out/ardour.log" &&
     lv2_result=$(tests/hosts/compare-renders --channels "$lv2_out/ardour.wav" --tolerance-db -130 2>&1); then
    pass "Ardour 7 renders \"Fat overdrive\" with Drive set through the LV2 bundle as through the VST2 file: $lv2_result"
  else
    fail "Ardour 7 render through the LV2 bundle beside the VST2 file: ${lv2_result:-see $lv2_out/ardour.log}"
    tail -n 3 "$lv2_out/ardour.log"
  fi
else
  fail "Ardour 7 is not installed (scripts/setup installs it)"
fi

# The server goes with the run, hard if it does not stop within 10 s.
kill "$lv2_jack_pid" 2> /dev/null
for _ in $(seq 1 40); do kill -0 "$lv2_jack_pid" 2> /dev/null || break; sleep 0.25; done
kill -9 "$lv2_jack_pid" 2> /dev/null
wait "$lv2_jack_pid" 2> /dev/null
