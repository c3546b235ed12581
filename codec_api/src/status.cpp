#include <vntr/codec_frame.hpp>

namespace vntr::frame {
namespace {

struct StatusText {
    CodecStatus code;
    const char *text;
};

// Searched in order up to the sentinel, which is never returned.
constexpr StatusText kStatusTexts[] = {
    {CODEC_OK, " Function terminated succesfully."},
    {CODEC_ERR_GENERAL, " Something went wrong."},
    {CODEC_ERR_HANDLE, " Invalid handle passed to function."},
    {CODEC_ERR_POINTER, " Invalid pointer passed to function."},
    {CODEC_ERR_ARGUMENT, " Bad argument passed to function."},
    {CODEC_ERR_MEMORY, " Memory allocation error."},
    {CODEC_ERR_UNSUPPORTED, " Functionality not supported."},
    {CODEC_ERR_NOT_IMPLEMENTED, " Functionality not yet implemented."},
    {CODEC_ERR_BUSY, " Busy."},
    {CODEC_ERR_FORMAT, " Format not supported."},
    {CODEC_ERR_OPTION, " Option not supported."},
    {CODEC_ERR_NEED_DATA, " Need more data to proceed."},
    {12, " serves to end the errorlist only"},
};
constexpr CodecStatus kSentinel = 12;

} // namespace

const char *ErrorString(CodecStatus status) {
    if (status >= kSentinel) return "Unknown error";
    for (const StatusText &entry : kStatusTexts) {
        if (entry.code == kSentinel) break;
        if (entry.code == status) return entry.text;
    }
    return "Unknown error";
}

} // namespace vntr::frame
