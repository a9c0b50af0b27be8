// Reading and writing the TGA header.
#include "image/TgaFormat.h"

#include "common/ByteWriter.h"

bool ReadTgaHeader(ByteReader& reader, TgaFileHeader& header)
{
    header.idLength = reader.u8();
    header.colourMapType = reader.u8();
    header.imageType = reader.u8();
    header.colourMapFirst = reader.u16();
    header.colourMapLength = reader.u16();
    header.colourMapEntrySize = reader.u8();
    header.xOrigin = reader.u16();
    header.yOrigin = reader.u16();
    header.width = reader.u16();
    header.height = reader.u16();
    header.pixelSize = reader.u8();
    header.descriptor = reader.u8();
    return reader.ok();
}

void EncodeTgaHeader(const TgaFileHeader& header, uint8_t* out)
{
    ByteWriter writer(out, kTgaHeaderSize);
    writer.u8(header.idLength);
    writer.u8(header.colourMapType);
    writer.u8(header.imageType);
    writer.u16(header.colourMapFirst);
    writer.u16(header.colourMapLength);
    writer.u8(header.colourMapEntrySize);
    writer.u16(header.xOrigin);
    writer.u16(header.yOrigin);
    writer.u16(header.width);
    writer.u16(header.height);
    writer.u8(header.pixelSize);
    writer.u8(header.descriptor);
}

bool TgaCanHold(int32_t width, int32_t height)
{
    return width >= 1 && height >= 1 && width <= kTgaMaxSide && height <= kTgaMaxSide;
}
