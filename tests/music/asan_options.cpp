// Under AddressSanitizer, the music tests unwind every allocation's stack in
// full. The player test through PulseAudio meets a block that SDL's own
// PulseAudio thread (its device hot-plug listener) leaves behind inside
// libpulse; the quick unwinder stops at libpulse's first frame, where that
// block cannot be told from one our own libpulse code would leak, and only a
// full stack lets scripts/lsan.supp name SDL's alone. Other builds ignore it.
extern "C" const char* __asan_default_options();
extern "C" __attribute__((used, visibility("default"))) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
