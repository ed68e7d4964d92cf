// A small LV2 host, as a test's tool: lilv finds the plug-in by its URI (through
// LV2_PATH, or in the bundle LV2_BUNDLE names), and it runs it over raw float samples in blocks of changing sizes,
// with controls changed while it runs, counting every heap call made inside run().
//   lilv-host URI IN.f32 OUT.f32 BLOCKS [SYMBOL=VALUE[@FRAME]]...
// BLOCKS is a comma-separated list of block sizes, taken in turn. A control's new
// value takes effect with the first block at or after FRAME. Prints the latency
// the plug-in reports after its first block and after its last, and the heap calls.
#include <lilv/lilv.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> heapCalls{0};

struct Change {
    std::string symbol;
    float value;
    long frame;
};

long Port(LilvWorld* world, const LilvPlugin* plugin, const char* name) {
    LilvNode* symbol = lilv_new_string(world, name);
    const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol);
    lilv_node_free(symbol);
    return port ? static_cast<long>(lilv_port_get_index(plugin, port)) : -1;
}

}  // namespace

// Every allocation and release in the process passes here (glibc's own allocator
// underneath); the sanitizers keep theirs, and the count is then not made.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
void* malloc(size_t n) { return heapCalls += counting, __libc_malloc(n); }
void* calloc(size_t n, size_t size) { return heapCalls += counting, __libc_calloc(n, size); }
void* realloc(void* p, size_t n) { return heapCalls += counting, __libc_realloc(p, n); }
void* aligned_alloc(size_t alignment, size_t n) { return heapCalls += counting, __libc_memalign(alignment, n); }
int posix_memalign(void** p, size_t alignment, size_t n) {
    heapCalls += counting;
    *p = __libc_memalign(alignment, n);
    return *p ? 0 : 12;
}
void free(void* p) {
    heapCalls += counting && p;
    __libc_free(p);
}
}
constexpr bool Counted = true;
#else
constexpr bool Counted = false;
#endif

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: lilv-host URI IN.f32 OUT.f32 BLOCKS [SYMBOL=VALUE[@FRAME]]...\n");
        return 2;
    }
    LilvWorld* world = lilv_world_new();
    // A bundle named by LV2_BUNDLE is read directly: a 32-bit program under qemu-user
    // cannot list a 64-bit host's folders, which finding bundles on LV2_PATH needs.
    if (const char* bundle = std::getenv("LV2_BUNDLE")) {
        LilvNode* where = lilv_new_file_uri(world, nullptr, (std::string(bundle) + "/").c_str());
        lilv_world_load_bundle(world, where);
        lilv_node_free(where);
    } else {
        lilv_world_load_all(world);
    }
    LilvNode* uri = lilv_new_uri(world, argv[1]);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    if (plugin == nullptr) return std::fprintf(stderr, "lilv-host: no plug-in %s\n", argv[1]), 1;
    LilvNode* audio = lilv_new_uri(world, LILV_URI_AUDIO_PORT);
    LilvNode* input = lilv_new_uri(world, LILV_URI_INPUT_PORT);
    const unsigned ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> defaults(ports), controls(ports, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    std::vector<unsigned> ins, outs;
    for (unsigned p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        if (!lilv_port_is_a(plugin, port, audio)) controls[p] = defaults[p];
        else (lilv_port_is_a(plugin, port, input) ? ins : outs).push_back(p);
    }
    std::vector<Change> changes;
    for (int i = 5; i < argc; ++i) {
        const char *eq = std::strchr(argv[i], '='), *at = std::strchr(argv[i], '@');
        if (eq == nullptr) return 2;
        changes.push_back({std::string(argv[i], static_cast<std::size_t>(eq - argv[i])), std::strtof(eq + 1, nullptr), at ? std::atol(at + 1) : 0});
    }
    std::vector<long> blocks;
    for (char* b = std::strtok(argv[4], ","); b; b = std::strtok(nullptr, ",")) blocks.push_back(std::atol(b));

    FILE* in = std::fopen(argv[2], "rb");
    if (in == nullptr) return std::perror(argv[2]), 1;
    std::vector<float> samples;
    for (float v; std::fread(&v, sizeof v, 1, in) == 1;) samples.push_back(v);
    std::fclose(in);
    const std::size_t channels = ins.size(), frames = samples.size() / channels;
    std::vector<float> result(samples.size()), inBlock, outBlock;

    LilvInstance* instance = lilv_plugin_instantiate(plugin, 48000.0, nullptr);
    if (instance == nullptr) return std::fprintf(stderr, "lilv-host: not instantiated\n"), 1;
    for (unsigned p = 0; p < ports; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
    lilv_instance_activate(instance);
    long latencyFirst = -1;
    std::size_t turn = 0, next = 0;
    const long latency = Port(world, plugin, "latency");
    for (std::size_t done = 0; done < frames; ++turn) {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(blocks[turn % blocks.size()]), frames - done);
        for (; next < changes.size() && changes[next].frame <= static_cast<long>(done); ++next) {
            const long port = Port(world, plugin, changes[next].symbol.c_str());
            if (port < 0) return std::fprintf(stderr, "lilv-host: no port %s\n", changes[next].symbol.c_str()), 2;
            controls[static_cast<std::size_t>(port)] = changes[next].value;
        }
        // Planar blocks for the plug-in, as hosts give them.
        inBlock.assign(channels * n, 0.0f);
        outBlock.assign(channels * n, 0.0f);
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t j = 0; j < n; ++j) inBlock[c * n + j] = samples[(done + j) * channels + c];
            lilv_instance_connect_port(instance, ins[c], &inBlock[c * n]);
            lilv_instance_connect_port(instance, outs[c], &outBlock[c * n]);
        }
        counting = true;
        lilv_instance_run(instance, static_cast<uint32_t>(n));
        counting = false;
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t j = 0; j < n; ++j) result[(done + j) * channels + c] = outBlock[c * n + j];
        if (latencyFirst < 0 && latency >= 0) latencyFirst = static_cast<long>(controls[static_cast<std::size_t>(latency)]);
        done += n;
    }
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || std::fwrite(result.data(), sizeof(float), result.size(), out) != result.size()) return 1;
    std::fclose(out);
    const long latencyLast = latency >= 0 ? static_cast<long>(controls[static_cast<std::size_t>(latency)]) : -1;
    std::printf("latency %ld %ld\nheap %ld\n", latencyFirst, latencyLast, Counted ? heapCalls.load() : -1L);
    lilv_node_free(uri);
    lilv_node_free(audio);
    lilv_node_free(input);
    lilv_world_free(world);
    return 0;
}
