/* Compiled as C: the public header must be usable from C with the same layout. */
#include <vntr/codec_api.h>

int vntr_c_header_record_sizes(int *format, int *info) {
    CodecFormat f;
    f.minCodedBytes = 0.25f;
    *format = (int)sizeof f;
    *info = (int)sizeof(CodecInfo);
    return CODEC_OK;
}
