// Loading and saving messages as RFC 822/MIME text.
#include "message/msmsg.h"

namespace {
const char* const kNoCodec = "Reading and writing message text is not available in this build";
}

void TmsMessage::LoadFromStream(TStream&) {
    throw EMessageError(kNoCodec);
}
void TmsMessage::SaveToStream(TStream&) {
    throw EMessageError(kNoCodec);
}
void TmsArticle::LoadFromStream(TStream&) {
    throw EMessageError(kNoCodec);
}
void TmsArticle::SaveToStream(TStream&) {
    throw EMessageError(kNoCodec);
}
