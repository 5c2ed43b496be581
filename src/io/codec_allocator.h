/* The one allocator of the compiled-in decoder and encoder: every block that
 * stb_image and stb_image_write obtain comes from here (their STBI_ and STBIW_
 * allocation macros, stb_implementation.c and stb_write_implementation.c).
 *
 * Every block starts zeroed and every grown part of a block is zeroed, so no
 * byte that the codec did not write itself (a previous call's image, another
 * user's picture) can reach an output, whatever a crafted file makes the codec
 * skip.
 *
 * Decoder blocks are plain C-heap blocks: the decoded image leaves the decoder
 * as the pipeline's pixel block, which the workers free with free(). stb_image
 * passes a block's old size on every realloc (STBI_REALLOC_SIZED), which is all
 * that zeroing a grown part needs. While a decode runs, a budget fixed from the
 * file's header bounds what the decoder may obtain (codec_allocator.cpp).
 *
 * Encoder blocks never leave the encoder, so each carries a small header: its
 * size (for zeroing the grown part of a realloc) and its links in the list of
 * blocks of the encoding under way. stb_image_write cannot survive a failed
 * allocation (it asserts, then writes through the old block), so its assertion
 * abandons the encoding instead: it jumps back to where the encoding began,
 * where every block still listed is freed and the encoder reports failure.
 *
 * C linkage: the two codec units are C. Hidden like everything in the library. */
#ifndef IMGFILTER_IO_CODEC_ALLOCATOR_H
#define IMGFILTER_IO_CODEC_ALLOCATOR_H

#include <setjmp.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What one decode may obtain in all, from the header's width and height (0 when
 * the header cannot be read), whether the file is a JPEG, and its length. */
unsigned long long imgfilter_decode_budget(int jpeg, long long width, long long height, long long file_length);

/* The decode under way on this thread; the budget lives in the decode call's
 * own frame and is pointed to only while that call runs. */
struct imgfilter_decode_scope {
    unsigned long long budget;
    unsigned long long obtained;
    struct imgfilter_decode_scope* outer;
};
void imgfilter_decode_enter(struct imgfilter_decode_scope* scope, unsigned long long budget);
void imgfilter_decode_leave(struct imgfilter_decode_scope* scope);

void* imgfilter_decoder_malloc(size_t size);
void* imgfilter_decoder_realloc(void* block, size_t old_size, size_t new_size);
void imgfilter_decoder_free(void* block);

struct imgfilter_encoder_block;

/* The encoding under way on this thread: where an abandoned encoding resumes,
 * and the blocks it holds. */
struct imgfilter_encode_scope {
    jmp_buf abandoned;
    struct imgfilter_encoder_block* blocks;
    struct imgfilter_encode_scope* outer;
};
void imgfilter_encode_enter(struct imgfilter_encode_scope* scope);
/* Frees every block the encoding still holds: on success stb_image_write has
 * freed all of its own, but after an abandonment, or when it drops a block on a
 * failure path of its own, they are freed here. */
void imgfilter_encode_leave(struct imgfilter_encode_scope* scope);

void* imgfilter_encoder_malloc(size_t size);
void* imgfilter_encoder_realloc(void* block, size_t new_size);
void imgfilter_encoder_free(void* block);

/* stb_image_write's assertion: abandons the encoding under way when the
 * condition fails; outside one (a test calling the encoder directly) it aborts
 * as the encoder's own assertion would. */
void imgfilter_encoder_assert(int condition);

#ifdef __cplusplus
}
#endif

#endif
