// MIME and MultipartMIME renderings, exactly as they go on the wire, and the
// Base64 they use.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/mail/base64.h"
#include "net/mail/mime.h"
#include "runtime/exceptions.h"

namespace KestNet {
namespace {

const std::string kBoundary = MIME::kBoundary;

struct RenderingCase {
  const char* name;
  std::function<std::unique_ptr<MIME>()> build;
  std::string headers;
  std::string body;
};

std::unique_ptr<MIME> Single(const std::function<void(MIME&)>& p_fill) {
  auto mime = std::make_unique<MIME>();
  p_fill(*mime);
  return mime;
}

const RenderingCase kRenderings[] = {
    {"NothingSet", [] { return Single([](MIME&) {}); },
     "MIME-Version: 1-0\r\nContent-type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n", ""},
    {"TextWithCharsetAndEncodedSubject",
     [] {
       return Single([](MIME& p_mime) {
         p_mime.SetContentType(MIME_CONTENT_TEXT_PLAIN, "utf-8");
         p_mime.SetTransferEncoding(MIME_ENCODING_QUOTED_PRINTABLE);
         p_mime.SetHeader("From", "me@a.test");
         p_mime.SetHeader("X-Empty", "");
         p_mime.SetEncodedHeader("Subject", "abc");
         p_mime.SetHeader("From", "you@b.test");
         p_mime.SetBody("Hi", false);
       });
     },
     "MIME-Version: 1-0\r\nContent-type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: Quoted-Printable\r\n"
     "From: you@b.test\r\nSubject: =?utf-8?B?YWJj?=\r\n\r\n",
     "Hi"},
    {"ImageWithoutCharsetDescriptionIdAndNoBcc",
     [] {
       return Single([](MIME& p_mime) {
         p_mime.SetContentType(MIME_CONTENT_IMAGE_GIF, "utf-8");
         p_mime.SetTransferEncoding(99);
         p_mime.SetDescription("a picture");
         p_mime.SetContentID("<pic@a.test>");
         p_mime.SetHeader("Bcc", "hidden@c.test");
       });
     },
     "MIME-Version: 1-0\r\nContent-type: image/gif\r\nContent-Transfer-Encoding: 7bit\r\n"
     "Content-Description: a picture\r\nContent-ID: <pic@a.test>\r\n\r\n",
     ""},
    {"AlternativeOfHtmlAndPlainInBase64",
     [] {
       auto mime = std::make_unique<MultipartMIME>();
       mime->SetMultipartType(MIME_MULTIPART_ALTERNATIVE);
       mime->SetTransferEncoding(MIME_ENCODING_BASE64);
       mime->AddPart("<b>Hi</b>", MIME_CONTENT_TEXT_HTML, "utf-8", MIME_ENCODING_BASE64, true);
       mime->AddPart("Hi", MIME_CONTENT_TEXT_PLAIN, "utf-8", MIME_ENCODING_BASE64, true);
       return std::unique_ptr<MIME>(std::move(mime));
     },
     "MIME-Version: 1-0\r\nContent-type: multipart/alternative;\tboundary=\"" + kBoundary +
         "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n",
     "\r\n--" + kBoundary + "\r\nContent-type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "PGI+SGk8L2I+\r\n--" + kBoundary +
         "\r\nContent-type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\nSGk=\r\n--" +
         kBoundary + "--"},
    {"MixedByDefaultWithAnImagePartThatNamesTheCharset",
     [] {
       auto mime = std::make_unique<MultipartMIME>();
       mime->AddPart("GIF", MIME_CONTENT_IMAGE_GIF, "utf-8", 7, false);
       return std::unique_ptr<MIME>(std::move(mime));
     },
     "MIME-Version: 1-0\r\nContent-type: multipart/mixed;boundary=" + kBoundary +
         "\r\nContent-Transfer-Encoding: 7bit\r\n\r\n",
     "\r\n--" + kBoundary + "\r\nContent-type: image/gif; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\nGIF\r\n--" +
         kBoundary + "--"},
};

class MimeRendering : public ::testing::TestWithParam<RenderingCase> {};

TEST_P(MimeRendering, RendersExactly) {
  const std::unique_ptr<MIME> mime = GetParam().build();
  EXPECT_EQ(mime->GetHeaders(), GetParam().headers);
  EXPECT_EQ(mime->GetBody(), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(Cases, MimeRendering, ::testing::ValuesIn(kRenderings),
                         [](const auto& p_info) { return std::string(p_info.param.name); });

TEST(MimeTest, AddressListsComeBackCommaSeparated) {
  MIME mime;
  mime.SetHeader("To", "a@x.test; b@y.test");
  mime.SetHeader("cc", "c@z.test");
  mime.SetHeader("Reply-To", "d@x.test; e@y.test");
  EXPECT_EQ(mime.GetHeader("To"), "a@x.test,,b@y.test");
  EXPECT_EQ(mime.GetHeader("cc"), "c@z.test");
  EXPECT_EQ(mime.GetHeader("Reply-To"), "d@x.test; e@y.test");
  EXPECT_EQ(mime.GetHeader("Bcc"), "");
}

TEST(MimeTest, RefusesHeadersThatWouldInjectLines) {
  MIME mime;
  for (const char* name : {"", "X-A\r\nBcc", "Sub ject", "A:B", "X-\t"}) {
    EXPECT_THROW(mime.SetHeader(name, "v"), KestBase::InvalidParameterException) << name;
    EXPECT_THROW(mime.SetEncodedHeader(name, "v"), KestBase::InvalidParameterException) << name;
  }
  for (const char* value : {"a\r\nBcc: evil@x.test", "a\nb", "a\rb"}) {
    EXPECT_THROW(mime.SetHeader("X-A", value), KestBase::InvalidParameterException);
  }
  EXPECT_THROW(mime.SetContentType(MIME_CONTENT_TEXT_PLAIN, "utf-8\r\nBcc: evil@x.test"),
               KestBase::InvalidParameterException);
  // The encoded text may hold anything: it is encoded.
  mime.SetEncodedHeader("Subject", "line\r\nBcc: evil@x.test");
  EXPECT_EQ(mime.GetHeaders(), "MIME-Version: 1-0\r\nContent-type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n"
                               "Subject: =?utf-8?B?bGluZQ0KQmNjOiBldmlsQHgudGVzdA==?=\r\n\r\n");
}

TEST(MimeTest, LongSubjectBecomesFoldedWordsOfWholeCharactersThatDecodeBack) {
  std::string subject;
  for (int i = 0; i < 40; ++i) subject += "Grüße €";  // 1-, 2- and 3-byte characters
  MIME mime;
  mime.SetEncodedHeader("Subject", subject);
  const std::string value = mime.GetHeader("Subject");
  std::string decoded;
  std::size_t words = 0;
  for (std::size_t start = 0; start < value.size();) {
    std::size_t end = value.find("\r\n ", start);
    if (end == std::string::npos) end = value.size();
    const std::string word = value.substr(start, end - start);
    ++words;
    EXPECT_LE(word.size(), 75u);
    ASSERT_EQ(word.rfind("=?utf-8?B?", 0), 0u) << word;
    ASSERT_EQ(word.substr(word.size() - 2), "?=") << word;
    std::string piece;
    ASSERT_TRUE(Base64Decode(word.substr(10, word.size() - 12), piece)) << word;
    // Whole characters: no word starts with a continuation byte.
    EXPECT_NE(static_cast<unsigned char>(piece[0]) & 0xC0, 0x80) << word;
    decoded += piece;
    start = end == value.size() ? end : end + 3;
  }
  EXPECT_GT(words, 1u);
  EXPECT_EQ(decoded, subject);
}

TEST(MimeTest, Base64BodiesAreCutIntoLinesOf76) {
  std::string content;
  for (int i = 0; i < 200; ++i) content += static_cast<char>(i);
  MIME mime;
  mime.SetBody(content, true);
  const std::string body = mime.GetBody();
  std::size_t start = 0;
  std::size_t lines = 0;
  for (std::size_t end; (end = body.find("\r\n", start)) != std::string::npos; start = end + 2, ++lines) {
    EXPECT_EQ(end - start, kBase64LineLength);
  }
  EXPECT_EQ(lines, 3u);
  EXPECT_EQ(body.size() - start, 268u - 3 * 76);  // 200 bytes are 268 characters
  std::string decoded;
  ASSERT_TRUE(Base64Decode(body, decoded));
  EXPECT_EQ(decoded, content);
}

// RFC 4648 §10 test vectors, and texts a strict decoder refuses.
TEST(Base64Test, EncodesTheRfcVectorsAndDecodesThemBack) {
  const std::pair<std::string, std::string> vectors[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Base64Encode(plain), encoded);
    std::string decoded;
    EXPECT_TRUE(Base64Decode(encoded, decoded));
    EXPECT_EQ(decoded, plain);
  }
  std::string decoded;
  for (const char* bad : {"Zg=", "Z===", "Zm9v!A==", "Zg==Zg==", "=Zm9"}) {
    EXPECT_FALSE(Base64Decode(bad, decoded)) << bad;
  }
}

}  // namespace
}  // namespace KestNet
