// Messages the benchmarks deliver to their Dovecot mailboxes.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <vector>

// A header block as mail programs write them (about 900 bytes), a short body: the mailbox
// of the check benchmarks.
inline std::string HeaderMessage(int n) {
    const std::string k = std::to_string(n);
    return "Return-Path: <sender" + k + "@example.com>\r\n" +
           "Received: from mx.example.com (mx.example.com [192.0.2.1])\r\n\tby pop.example.org "
           "with ESMTPS id " +
           k + "; Tue, 08 Dec 2026 10:00:00 +0000\r\n" + "From: Sender " + k + " <sender" + k +
           "@example.com>\r\n" + "To: Alice <alice@example.org>\r\nSubject: =?UTF-8?Q?Message_" +
           k + "_=E2=80=93_news?=\r\n" + "Date: Tue, 08 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" +
           k + "@bench.example>\r\n" +
           "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n" +
           "Content-Transfer-Encoding: 8bit\r\nX-Priority: " + std::to_string(1 + n % 5) +
           "\r\nList-Unsubscribe: <https://lists.example.com/unsubscribe/" + k + ">\r\n" +
           "DKIM-Signature: v=1; a=rsa-sha256; d=example.com; s=mail; h=from:to:subject;\r\n"
           "\tbh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=; b=dGVzdA==\r\n\r\n" +
           "Hello " + k + ",\r\nsee you.\r\n";
}

// Plain-text messages of a given body size: a short header block and lines of 70 random
// letters and spaces, picked from a fixed set so that large mailboxes are quick to make.
class TTextMessages {
public:
    explicit TTextMessages(unsigned seed) : FRandom(seed) {
        std::uniform_int_distribution<int> letter('a', 'z');
        for (std::string& line : FLines) {
            for (int i = 0; i < 70; ++i) line += i % 7 == 6 ? ' ' : char(letter(FRandom));
            line += "\r\n";
        }
    }
    std::string Make(int n, std::size_t bodyBytes) {
        const std::string k = std::to_string(n);
        std::string text = "From: Sender " + k + " <sender" + k +
                           "@example.com>\r\nTo: Alice <alice@example.org>\r\nSubject: Text " + k +
                           "\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" + k +
                           "@text.example>\r\nMIME-Version: 1.0\r\n"
                           "Content-Type: text/plain; charset=UTF-8\r\n\r\n";
        const std::size_t target = text.size() + bodyBytes;
        text.reserve(target + 72);
        std::uniform_int_distribution<std::size_t> pick(0, FLines.size() - 1);
        while (text.size() < target) text += FLines[pick(FRandom)];
        return text;
    }
    // A size between low and high bytes, evenly spread.
    std::size_t Size(std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(FRandom);
    }

private:
    std::mt19937 FRandom;
    std::vector<std::string> FLines = std::vector<std::string>(4096);
};
