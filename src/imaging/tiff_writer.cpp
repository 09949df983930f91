#include "imaging/tiff_writer.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "imaging/imaging_errors.h"
#include "imaging/t4_encode.h"
#include "imaging/tiff_reader.h"

namespace veltrane::imaging {
namespace {

constexpr uint16_t kEntries = 17;
constexpr uint32_t kNewSubfileTypePage = 2;  // one page of a multi-page document
constexpr uint32_t kXDpi = 204;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Set32(std::vector<uint8_t>& out, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

void PutEntry(std::vector<uint8_t>& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  Put16(out, tag);
  Put16(out, type);
  Put32(out, count);
  if (type == kTypeShort && count == 1) {
    Put16(out, value);  // left-justified in the value field
    Put16(out, 0);
  } else {
    Put32(out, value);
  }
}

}  // namespace

TiffFaxWriter::TiffFaxWriter(int fill_order) : fill_order_(fill_order == 2 ? 2 : 1) {
  coder_.leftMargin = 0;
  coder_.flags = 0;
  coder_.doubleWidth = false;
}

void TiffFaxWriter::BeginPage(int width, bool high_res) {
  if (page_open_) EndPage();
  Page page;
  page.width = width == kLineWidthWide ? kLineWidthWide : kLineWidthNormal;
  page.high_res = high_res;
  pages_.push_back(std::move(page));
  page_open_ = true;
}

void TiffFaxWriter::AddLine(const uint8_t* raster) {
  if (!page_open_) BeginPage(kLineWidthNormal, false);
  Page& page = pages_.back();
  coder_.lineWidth = page.width;
  // The coded line starts with a 16-bit EOL (four fill bits and the EOL) and
  // ends with zero bytes, so its EOL ends on a byte boundary: T4Options 4.
  EncodeRasterLine(coder_, raster);
  const uint8_t* coded = coder_.codedLine.data();
  for (int i = 0; i < coder_.byteOffset; ++i)
    page.strip.push_back(fill_order_ == 1 ? ReverseBitOrder(coded[i]) : coded[i]);
  ++page.rows;
}

void TiffFaxWriter::EndPage() {
  if (!page_open_) return;
  page_open_ = false;
  if (pages_.back().rows == 0) {
    const std::vector<uint8_t> white(kLineWidthWide / 8, 0);
    page_open_ = true;
    AddLine(white.data());
    page_open_ = false;
  }
}

// Appends the IFD of one page and the values that do not fit its entries;
// returns where the offset of the next IFD goes.
std::size_t TiffFaxWriter::AppendIfd(std::vector<uint8_t>& out, std::size_t index, uint32_t strip_at,
                                     const std::string& software) const {
  const Page& page = pages_[index];
  const uint32_t extra = uint32_t(out.size()) + 2 + kEntries * 12 + 4;
  const uint32_t x_res = extra, y_res = extra + 8, text_at = extra + 16;
  Put16(out, kEntries);
  PutEntry(out, kTagNewSubfileType, kTypeLong, 1, kNewSubfileTypePage);
  PutEntry(out, kTagImageWidth, kTypeLong, 1, uint32_t(page.width));
  PutEntry(out, kTagImageLength, kTypeLong, 1, page.rows);
  PutEntry(out, kTagBitsPerSample, kTypeShort, 1, 1);
  PutEntry(out, kTagCompression, kTypeShort, 1, kCompressionG3);
  PutEntry(out, kTagPhotometric, kTypeShort, 1, 0);  // 0 = white, as Class F asks
  PutEntry(out, kTagFillOrder, kTypeShort, 1, uint32_t(fill_order_));
  PutEntry(out, kTagStripOffsets, kTypeLong, 1, strip_at);
  PutEntry(out, kTagSamplesPerPixel, kTypeShort, 1, 1);
  PutEntry(out, kTagRowsPerStrip, kTypeLong, 1, page.rows);
  PutEntry(out, kTagStripByteCounts, kTypeLong, 1, uint32_t(page.strip.size()));
  PutEntry(out, kTagXResolution, kTypeRational, 1, x_res);
  PutEntry(out, kTagYResolution, kTypeRational, 1, y_res);
  PutEntry(out, kTagT4Options, kTypeLong, 1, kT4OptionsFillBits);
  PutEntry(out, kTagResolutionUnit, kTypeShort, 1, 2);  // inch
  // PageNumber: two SHORTs, the page (from 0) and the page count, in the entry itself.
  Put16(out, kTagPageNumber);
  Put16(out, kTypeShort);
  Put32(out, 2);
  Put16(out, uint32_t(index));
  Put16(out, uint32_t(pages_.size()));
  uint32_t text_value = text_at;
  if (software.size() <= 4) {  // short enough to stand in the entry itself
    text_value = 0;
    for (std::size_t k = 0; k < software.size(); ++k) text_value |= uint32_t(uint8_t(software[k])) << (8 * k);
  }
  PutEntry(out, kTagSoftware, kTypeAscii, uint32_t(software.size()), text_value);
  const std::size_t link = out.size();
  Put32(out, 0);
  Put32(out, kXDpi);
  Put32(out, 1);
  Put32(out, page.high_res ? 196 : 98);
  Put32(out, 1);
  if (software.size() > 4) out.insert(out.end(), software.begin(), software.end());
  if (out.size() & 1) out.push_back(0);
  return link;
}

std::vector<uint8_t> TiffFaxWriter::Finish(std::string_view software) {
  EndPage();
  std::vector<uint8_t> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
  std::vector<uint32_t> strip_at;
  for (const Page& page : pages_) {
    strip_at.push_back(uint32_t(out.size()));
    out.insert(out.end(), page.strip.begin(), page.strip.end());
    if (out.size() & 1) out.push_back(0);
  }
  const std::string text = std::string(software) + '\0';
  std::size_t link = 4;  // where the offset of the next IFD goes
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    Set32(out, link, uint32_t(out.size()));
    link = AppendIfd(out, i, strip_at[i], text);
  }
  return out;
}

int TiffFaxWriter::WriteFile(const std::string& path, std::string_view software) {
  if (pages_.empty()) return kErrBadArgument;  // a TIFF file needs at least one page
  const std::vector<uint8_t> bytes = Finish(software);
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return FileErrorFromErrno(errno);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int write_errno = errno;
  if (std::fclose(f) != 0 || !written) {
    std::remove(temp.c_str());
    return written ? kErrDiskWrite : FileErrorFromErrno(write_errno);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int rc = FileErrorFromErrno(errno);
    std::remove(temp.c_str());
    return rc;
  }
  return 0;
}

}  // namespace veltrane::imaging
