# One run of a frame benchmark, shared by bench/compare.sh and
# bench/layer_cost.sh (sourced by both). The caller sets MEASURE (time or
# instructions), FRAMES, DELAY_MS and TABLE (bench/compare_table.py).

# build_delay_library PATH: builds the preloadable glFinish delay
# (bench/delay_finish.c) at PATH, which adds DELAY_FINISH_MS to every frame.
build_delay_library() {
    cc -O2 -shared -fPIC -o "$1" "$ROOT_DIR/bench/delay_finish.c" -ldl
}

# run_frame_bench TOOL SIDE ROUND PROGRAM RUN PRELOAD OUT
# Runs PROGRAM FRAMES in the program's folder, its table in RUN/table and its
# log in RUN/log, and appends its rows for SIDE and ROUND to OUT. Counting,
# it runs under callgrind with llvmpipe on the calling thread, a dump after
# each music position's offline render and after each swap (every swap's
# dump holds one frame). Timing with a PRELOAD (the delay library), every
# frame is delayed by DELAY_MS. A failed run ends the script, naming TOOL.
run_frame_bench() {
    local tool="$1" side="$2" round="$3" program="$4" run="$5" preload="$6" out="$7"
    mkdir -p "$run"
    local -a prefix=()
    if [ "$MEASURE" = instructions ]; then
        prefix=(env LP_NUM_THREADS=0 MESA_SHADER_CACHE_DISABLE=true valgrind --tool=callgrind
            "--dump-after=platform::OfflineModule::positionAtMs*"
            "--dump-after=platform::swapBuffers*" "--callgrind-out-file=$run/profile")
    elif [ -n "$preload" ]; then
        prefix=(env "DELAY_FINISH_MS=$DELAY_MS" "LD_PRELOAD=$preload")
    fi
    if ! (cd "$(dirname "$program")" &&
        "${prefix[@]}" "./$(basename "$program")" "$FRAMES" >"$run/table" 2>"$run/log"); then
        echo "$tool: $program failed in round $round:" >&2
        tail -n 5 "$run/log" >&2
        exit 1
    fi
    if [ "$MEASURE" = instructions ]; then
        python3 "$TABLE" profile "$side" "$round" "$FRAMES" "$run" >>"$out"
    else
        python3 "$TABLE" rows "$side" "$round" <"$run/table" >>"$out"
    fi
}
