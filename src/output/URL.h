// A web or file address with its kind; a plain holder with no operation of its own.
#pragma once

#include <string>

enum TURLType { utFile, utFtp, utGopher, utHttp, utHttps, utMailto, utNews, utTelnet, utWais };

class TURL {
public:
    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& value) { FURL = value; }
    TURLType URLType() const { return FURLType; }
    void SetURLType(TURLType value) { FURLType = value; }

private:
    std::string FURL;
    TURLType FURLType = utHttp;
};
