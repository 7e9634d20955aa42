/* Guest instructions per frame of a user-mode program, and before its first frame: a qemu TCG
 * plugin (qemu-arm, qemu-aarch64) that counts every instruction the guest executes (one inline add per
 * translated block, as exact as qemu's own counter) and reads the count each time the guest
 * enters one chosen instruction, the start of the function every frame calls once.
 *
 *   -plugin libframe_insns.so,marker=ADDR,first=F,last=L
 *
 * marker: the address (hexadecimal) of the frame function's first instruction.
 * symbol: the frame function's name, for a position-independent program, whose load address
 *         is not known before: marker is then its address in the file, and the function's first
 *         instruction the one in it at the same offset in a page (the program is loaded at a
 *         page boundary; the function must be shorter than a page).
 * first, last: frames 1 <= F < L. When the guest reaches frame L the plugin prints one line on
 *         standard error and ends the emulation (status 0):
 *   frames BEFORE_FIRST PER_FRAME_X100 HEAP_AT_FIRST HEAP_PEAK
 * BEFORE_FIRST: instructions up to frame 1's entry into the marker; PER_FRAME_X100: those from
 * frame F's entry to frame L's, times 100 over L - F (a fixed-point mean); HEAP_AT_FIRST and
 * HEAP_PEAK: bytes the guest has asked the kernel for, at frame 1 and at most up to frame L:
 * the program break's growth plus anonymous mappings (mmap2 with MAP_ANONYMOUS, less munmap
 * of them and mremap's changes). Counts repeat exactly from run to run of the same binary on
 * the same processor (and the same random speeds). */
#include <glib.h>
#include <inttypes.h>
#include <qemu-plugin.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;

/* The system calls that ask the kernel for memory: ARM EABI's, or AArch64's. */
struct MemoryCalls {
    int64_t brk, munmap, mremap, mmap;
};
static const struct MemoryCalls kArmCalls = {45, 91, 163, 192}; /* mmap: mmap2 */
static const struct MemoryCalls kAarch64Calls = {214, 215, 216, 222};
static struct MemoryCalls calls;
static uint64_t addressMask = 0xffffffffu; /* the guest's addresses */
enum { kMapAnonymous = 0x20, kPageMask = 4095 };

static uint64_t marker;
static const char* symbol; /* NULL: marker is the address itself */
static uint64_t first = 10;
static uint64_t last = 110;

static uint64_t insns; /* every instruction executed so far */
static uint64_t frames;
static uint64_t beforeFirst;
static uint64_t atFirstFrame;

/* Memory asked of the kernel. */
static uint64_t breakStart; /* the program break at the first brk, 0 before */
static uint64_t breakNow;
static int64_t mapped; /* anonymous mappings, bytes */
static int64_t heapAtFirst;
static int64_t heapPeak;
static int64_t callNumber = -1; /* the system call under way and its arguments */
static uint64_t callArgs[4];

/* Anonymous mappings by address, to take back the right sizes at munmap. */
static GHashTable* anonymous;

static int64_t heapNow(void) {
    return (int64_t)(breakNow - breakStart) + mapped;
}

static void onSyscall(qemu_plugin_id_t id, unsigned int vcpu, int64_t num, uint64_t a1, uint64_t a2,
                      uint64_t a3, uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7,
                      uint64_t a8) {
    (void)id, (void)vcpu, (void)a5, (void)a6, (void)a7, (void)a8;
    callNumber = num;
    callArgs[0] = a1;
    callArgs[1] = a2;
    callArgs[2] = a3;
    callArgs[3] = a4;
}

static uint64_t pageRounded(uint64_t bytes) {
    return (bytes + 4095) & ~(uint64_t)4095;
}

static void onSyscallReturn(qemu_plugin_id_t id, unsigned int vcpu, int64_t num, int64_t ret) {
    (void)id, (void)vcpu;
    if (num != callNumber) return;
    const uint64_t result = (uint64_t)ret & addressMask;
    const int failed = ret < 0 && ret > -4096;
    if (num == calls.brk && !failed) {
        if (breakStart == 0) breakStart = result;
        breakNow = result;
    } else if (num == calls.mmap && !failed && (callArgs[3] & kMapAnonymous) != 0) {
        const uint64_t size = pageRounded(callArgs[1]);
        g_hash_table_insert(anonymous, (gpointer)(uintptr_t)result, (gpointer)(uintptr_t)size);
        mapped += (int64_t)size;
    } else if (num == calls.munmap && !failed) {
        gpointer size;
        if (g_hash_table_lookup_extended(anonymous, (gpointer)(uintptr_t)callArgs[0], NULL, &size)) {
            mapped -= (int64_t)(uintptr_t)size;
            g_hash_table_remove(anonymous, (gpointer)(uintptr_t)callArgs[0]);
        }
    } else if (num == calls.mremap && !failed) {
        gpointer size;
        if (g_hash_table_lookup_extended(anonymous, (gpointer)(uintptr_t)callArgs[0], NULL, &size)) {
            const uint64_t grown = pageRounded(callArgs[2]);
            mapped += (int64_t)grown - (int64_t)(uintptr_t)size;
            g_hash_table_remove(anonymous, (gpointer)(uintptr_t)callArgs[0]);
            g_hash_table_insert(anonymous, (gpointer)(uintptr_t)result, (gpointer)(uintptr_t)grown);
        }
    }
    callNumber = -1;
    if (heapNow() > heapPeak) heapPeak = heapNow();
}

static void onFrame(unsigned int vcpu, void* udata) {
    (void)vcpu, (void)udata;
    ++frames;
    if (frames == 1) {
        beforeFirst = insns;
        heapAtFirst = heapNow();
    }
    if (frames == first) atFirstFrame = insns;
    if (frames == last) {
        fprintf(stderr, "frames %" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64 "\n", beforeFirst,
                (insns - atFirstFrame) * 100 / (last - first), heapAtFirst, heapPeak);
        fflush(stderr);
        exit(0);
    }
}

static void onTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    const size_t n = qemu_plugin_tb_n_insns(tb);
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &insns, n);
    for (size_t i = 0; i < n; ++i) {
        struct qemu_plugin_insn* insn = qemu_plugin_tb_get_insn(tb, i);
        const uint64_t vaddr = qemu_plugin_insn_vaddr(insn);
        const char* name = symbol != NULL ? qemu_plugin_insn_symbol(insn) : NULL;
        const int entry = symbol == NULL ? vaddr == marker
                                         : name != NULL && strcmp(name, symbol) == 0 &&
                                               (vaddr & kPageMask) == (marker & kPageMask);
        if (entry) {
            qemu_plugin_register_vcpu_insn_exec_cb(insn, onFrame, QEMU_PLUGIN_CB_NO_REGS, NULL);
        }
    }
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                           char** argv) {
    const int aarch64 = strcmp(info->target_name, "aarch64") == 0;
    calls = aarch64 ? kAarch64Calls : kArmCalls;
    if (aarch64) addressMask = ~(uint64_t)0;
    for (int i = 0; i < argc; ++i) {
        if (strncmp(argv[i], "marker=", 7) == 0) {
            /* Without the Thumb bit of a Thumb function's address. */
            marker = strtoull(argv[i] + 7, NULL, 16) & ~(uint64_t)1;
        } else if (strncmp(argv[i], "symbol=", 7) == 0) {
            symbol = argv[i] + 7;
        } else if (strncmp(argv[i], "first=", 6) == 0) {
            first = strtoull(argv[i] + 6, NULL, 10);
        } else if (strncmp(argv[i], "last=", 5) == 0) {
            last = strtoull(argv[i] + 5, NULL, 10);
        } else {
            fprintf(stderr, "frame_insns: unknown argument %s\n", argv[i]);
            return -1;
        }
    }
    if (marker == 0 || first < 1 || last <= first) {
        fprintf(stderr, "frame_insns: needs marker=ADDR and 1 <= first < last\n");
        return -1;
    }
    anonymous = g_hash_table_new(g_direct_hash, g_direct_equal);
    qemu_plugin_register_vcpu_tb_trans_cb(id, onTranslate);
    qemu_plugin_register_vcpu_syscall_cb(id, onSyscall);
    qemu_plugin_register_vcpu_syscall_ret_cb(id, onSyscallReturn);
    return 0;
}
