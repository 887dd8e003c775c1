#include "DisplayText.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>

namespace quarry {

namespace {

bool IsAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

QByteArrayView View(std::string_view bytes) {
  return QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool IsValidUtf8(std::string_view bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(View(bytes));
  return !decoder.hasError();
}

}  // namespace

QString DisplayText(std::string_view bytes) {
  if (IsAscii(bytes)) return QString::fromLatin1(View(bytes));
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(View(bytes));
  if (decoder.hasError()) return QString::fromLatin1(View(bytes));
  return text;
}

std::string PathBytes(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string CutToBytes(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t cut = maxBytes;
  if (!IsAscii(text) && IsValidUtf8(text)) {
    // Step back over continuation bytes (10xxxxxx) to the start of the split character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  return std::string(text.substr(0, cut));
}

}  // namespace quarry
