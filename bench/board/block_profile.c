/* Where a whole emulated system spends its instructions: a qemu TCG plugin that counts the
 * instructions executed in every translated block, keyed by the block's virtual address and
 * its bytes (so that two processes with code at the same address stay apart), and the
 * instructions spent in chosen user-space functions (memcpy and its kin) per calling block.
 *
 *   -plugin libblock_profile.so,out=FILE[,kernel=ADDR][,callee=START-END]...
 *
 * out:    the profile, written when the emulator exits (below).
 * kernel: the lowest kernel address (default 0xbf000000, the ARM kernel's module area): blocks
 *         below it are user space.
 * callee: a user-space address range [START, END) in hexadecimal. When a user block outside
 *         every range is followed by one inside, that block made a call; every user block run
 *         inside the ranges until the next user block outside them is charged to that call
 *         site (kernel blocks in between, an interrupt, change nothing).
 *
 * The profile has one line per block and one per call site:
 *   block VADDR SIZE HASH INSNS EXECS
 *   call CALLER_VADDR CALLER_SIZE CALLER_HASH CALLEE_VADDR INSNS CALLS
 * VADDR, HASH in hexadecimal; HASH is the FNV-1a 64 of the block's bytes; INSNS counts every
 * instruction executed (one inline add per instruction, exact as qemu's own counter); EXECS
 * counts entries into the block. Totals in a call line count whole blocks. */
#include <glib.h>
#include <inttypes.h>
#include <qemu-plugin.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;

typedef struct CallSite CallSite;

/* One translated block, whatever number of times qemu translates it. */
typedef struct {
    uint64_t vaddr;
    uint64_t hash; /* FNV-1a 64 of the bytes */
    uint32_t size; /* bytes */
    uint32_t nInsns;
    uint64_t insns;  /* executed instructions, counted inline */
    uint64_t execs;  /* entries, counted inline */
    int inCallee;    /* user block inside a callee range */
    CallSite* calls; /* calls made from this block (user blocks outside the ranges) */
} Block;

/* A call from one block into the callee ranges. */
struct CallSite {
    const Block* callee; /* first block run inside the ranges */
    uint64_t insns;
    uint64_t calls;
    CallSite* next;
};

typedef struct {
    uint64_t start, end;
} Range;

static GHashTable* blocks;
static GMutex lock;
static char* outPath;
static uint64_t kernelStart = 0xbf000000;
static GArray* callees;

/* The attribution state of the one vCPU these boards have (icount runs one thread anyway). */
static Block* lastUser;  /* the latest user block outside the ranges */
static CallSite* active; /* the call being charged, or none */

static guint blockHash(gconstpointer key) {
    const Block* b = key;
    return (guint)(b->vaddr ^ b->hash ^ (b->hash >> 32));
}

static gboolean blockEqual(gconstpointer a, gconstpointer b) {
    const Block *x = a, *y = b;
    return x->vaddr == y->vaddr && x->hash == y->hash && x->size == y->size;
}

static int inCallee(uint64_t vaddr) {
    for (guint i = 0; i < callees->len; i++) {
        const Range* r = &g_array_index(callees, Range, i);
        if (vaddr >= r->start && vaddr < r->end) {
            return 1;
        }
    }
    return 0;
}

/* Runs at every entry into a user block (not inline: it keeps the attribution state). */
static void userBlockRun(unsigned int vcpu, void* userdata) {
    Block* b = userdata;
    (void)vcpu;
    if (!b->inCallee) {
        lastUser = b;
        active = NULL;
        return;
    }
    if (active == NULL && lastUser != NULL) {
        CallSite* c = lastUser->calls;
        while (c != NULL && c->callee != b) {
            c = c->next;
        }
        if (c == NULL) {
            c = g_new0(CallSite, 1);
            c->callee = b;
            c->next = lastUser->calls;
            lastUser->calls = c;
        }
        c->calls++;
        active = c;
    }
    if (active != NULL) {
        active->insns += b->nInsns;
    }
}

static void translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    size_t n = qemu_plugin_tb_n_insns(tb);
    Block key = {.vaddr = qemu_plugin_tb_vaddr(tb), .hash = 0xcbf29ce484222325ull};
    /* Hash the bytes, instruction by instruction, in memory order. */
    for (size_t i = 0; i < n; i++) {
        struct qemu_plugin_insn* insn = qemu_plugin_tb_get_insn(tb, i);
        const uint8_t* data = qemu_plugin_insn_data(insn);
        size_t size = qemu_plugin_insn_size(insn);
        for (size_t j = 0; j < size; j++) {
            key.hash = (key.hash ^ data[j]) * 0x100000001b3ull;
        }
        key.size += size;
    }
    g_mutex_lock(&lock);
    Block* b = g_hash_table_lookup(blocks, &key);
    if (b == NULL) {
        b = g_new0(Block, 1);
        *b = key;
        b->nInsns = n;
        b->inCallee = key.vaddr < kernelStart && inCallee(key.vaddr);
        g_hash_table_insert(blocks, b, b);
    }
    g_mutex_unlock(&lock);

    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &b->execs, 1);
    for (size_t i = 0; i < n; i++) {
        qemu_plugin_register_vcpu_insn_exec_inline(qemu_plugin_tb_get_insn(tb, i),
                                                   QEMU_PLUGIN_INLINE_ADD_U64, &b->insns, 1);
    }
    if (key.vaddr < kernelStart && callees->len > 0) {
        qemu_plugin_register_vcpu_tb_exec_cb(tb, userBlockRun, QEMU_PLUGIN_CB_NO_REGS, b);
    }
}

static void writeProfile(qemu_plugin_id_t id, void* p) {
    (void)id;
    (void)p;
    FILE* out = fopen(outPath, "w");
    if (out == NULL) {
        qemu_plugin_outs("block_profile: cannot write the profile\n");
        return;
    }
    GHashTableIter it;
    gpointer value;
    g_hash_table_iter_init(&it, blocks);
    while (g_hash_table_iter_next(&it, NULL, &value)) {
        const Block* b = value;
        if (b->insns == 0 && b->execs == 0) {
            continue;
        }
        fprintf(out, "block %" PRIx64 " %u %016" PRIx64 " %" PRIu64 " %" PRIu64 "\n", b->vaddr,
                b->size, b->hash, b->insns, b->execs);
        for (const CallSite* c = b->calls; c != NULL; c = c->next) {
            fprintf(out, "call %" PRIx64 " %u %016" PRIx64 " %" PRIx64 " %" PRIu64 " %" PRIu64 "\n",
                    b->vaddr, b->size, b->hash, c->callee->vaddr, c->insns, c->calls);
        }
    }
    fclose(out);
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                           char** argv) {
    (void)info;
    callees = g_array_new(FALSE, FALSE, sizeof(Range));
    for (int i = 0; i < argc; i++) {
        const char* arg = argv[i];
        if (strncmp(arg, "out=", 4) == 0) {
            outPath = g_strdup(arg + 4);
        } else if (strncmp(arg, "kernel=", 7) == 0) {
            kernelStart = strtoull(arg + 7, NULL, 16);
        } else if (strncmp(arg, "callee=", 7) == 0) {
            Range r;
            char* end;
            r.start = strtoull(arg + 7, &end, 16);
            if (*end != '-') {
                fprintf(stderr, "block_profile: callee=START-END, not %s\n", arg);
                return -1;
            }
            r.end = strtoull(end + 1, NULL, 16);
            g_array_append_val(callees, r);
        } else {
            fprintf(stderr, "block_profile: unknown argument %s\n", arg);
            return -1;
        }
    }
    if (outPath == NULL) {
        fprintf(stderr, "block_profile: needs out=FILE\n");
        return -1;
    }
    blocks = g_hash_table_new(blockHash, blockEqual);
    qemu_plugin_register_vcpu_tb_trans_cb(id, translated);
    qemu_plugin_register_atexit_cb(id, writeProfile, NULL);
    return 0;
}
