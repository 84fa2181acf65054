// Loading and saving messages as RFC 822/MIME text.
#include "message/msmimedecoder.h"
#include "message/msmimeencoder.h"
#include "message/msmsg.h"

void TmsMessage::LoadFromStream(TStream& stream) {
    TmsMessageDecoder decoder(stream);
    decoder.SetMessage(this);
    decoder.SetTerminatorRemoved(WithoutTerminator());
    decoder.Decode();
}

void TmsMessage::SaveToStream(TStream& stream) {
    TmsMessageEncoder encoder(*this);
    encoder.SetStream(&stream);
    encoder.Encode();
}

void TmsArticle::LoadFromStream(TStream& stream) {
    TmsArticleDecoder decoder(stream);
    decoder.SetMessage(this);
    decoder.SetTerminatorRemoved(WithoutTerminator());
    decoder.Decode();
}

void TmsArticle::SaveToStream(TStream& stream) {
    TmsArticleEncoder encoder(*this);
    encoder.SetStream(&stream);
    encoder.Encode();
}
