// Reading and writing the PCX header.
#include "image/PcxFormat.h"

#include "common/ByteReader.h"
#include "common/ByteWriter.h"

namespace {

constexpr size_t kReservedSize = 1;  // between the colour map and the plane count

}  // namespace

bool DecodePcxHeader(const uint8_t* data, size_t size, PcxFileHeader& header)
{
    ByteReader reader(data, size);
    header.manufacturer = reader.u8();
    header.version = reader.u8();
    header.encoding = reader.u8();
    header.bitsPerPixel = reader.u8();
    header.xmin = reader.u16();
    header.ymin = reader.u16();
    header.xmax = reader.u16();
    header.ymax = reader.u16();
    header.horizontalResolution = reader.u16();
    header.verticalResolution = reader.u16();
    reader.skip(kPcxColourMapSize + kReservedSize);
    header.planes = reader.u8();
    header.bytesPerLine = reader.u16();
    header.paletteInfo = reader.u16();
    reader.seek(kPcxHeaderSize);
    return reader.ok();
}

void EncodePcxHeader(const PcxFileHeader& header, uint8_t* out)
{
    ByteWriter writer(out, kPcxHeaderSize);
    writer.u8(header.manufacturer);
    writer.u8(header.version);
    writer.u8(header.encoding);
    writer.u8(header.bitsPerPixel);
    writer.u16(header.xmin);
    writer.u16(header.ymin);
    writer.u16(header.xmax);
    writer.u16(header.ymax);
    writer.u16(header.horizontalResolution);
    writer.u16(header.verticalResolution);
    writer.zeros(kPcxColourMapSize + kReservedSize);
    writer.u8(header.planes);
    writer.u16(header.bytesPerLine);
    writer.u16(header.paletteInfo);
    writer.zeros(kPcxHeaderSize - writer.position());
}

bool PcxCanHold(int32_t width, int32_t height)
{
    return width >= 1 && height >= 1 && width <= kPcxMaxSide && height <= kPcxMaxSide;
}
