#include "tests/support/PhotoSamples.h"

#include "platform/imageio/ImageIO.h"
#include "platform/imageio/ImageProperties.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QStandardPaths>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <jpeglib.h>
#include <libheif/heif.h>
#include <openjpeg.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace testsupport {
namespace {

// Sides of the patch grid.
constexpr int kColumns = 4, kRows = 2;

const QColor kPatches[kColumns * kRows] = {
    QColor(255, 255, 255), QColor(128, 128, 128), QColor(200, 40, 40),  QColor(40, 160, 60),
    QColor(50, 70, 200),   QColor(230, 200, 60),  QColor(40, 40, 40),   QColor(120, 200, 220),
};

heif_error writeToArray(heif_context*, const void* data, size_t size, void* userdata) {
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// The picture as interleaved 8-bit RGB(A) or 16-bit little-endian samples of `bits`.
heif_image* heifImage(const QImage& picture, int bits) {
    const bool alpha = picture.hasAlphaChannel();
    const QImage straight = picture.convertToFormat(QImage::Format_ARGB32);
    const heif_chroma chroma = bits > 8 ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                        : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* image = nullptr;
    if (heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, chroma, &image).code != heif_error_Ok)
        return nullptr;
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(), bits);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    const int max = (1 << bits) - 1;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(straight.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int c[4] = {qRed(line[x]), qGreen(line[x]), qBlue(line[x]), qAlpha(line[x])};
            for (int k = 0; k < channels; ++k) {
                if (bits > 8)
                    reinterpret_cast<uint16_t*>(plane + size_t(y) * stride)[x * channels + k] =
                        uint16_t(std::lround(c[k] * double(max) / 255.0));
                else
                    plane[size_t(y) * stride + size_t(x) * channels + k] = uint8_t(c[k]);
            }
        }
    }
    return image;
}

// A minimal libtiff client writing into a temporary file, read back whole.
struct TiffFile {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("sample.dng"));
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    QByteArray finish() {
        TIFFClose(tif);
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

double srgbToLinear(int v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

void writeRgbPreview(TIFF* tif, const QImage& preview, bool jpeg) {
    const QImage rgb = preview.convertToFormat(QImage::Format_RGB888);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(rgb.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(rgb.height()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(rgb.height()));
    if (jpeg) {
        // One strip holding a whole baseline JPEG, as cameras store their previews.
        const QByteArray bytes = platform::encodeImage(preview, platform::ImageType::JPEG, 0.9);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFWriteRawStrip(tif, 0, const_cast<char*>(bytes.constData()), bytes.size());
    } else {
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        for (int y = 0; y < rgb.height(); ++y) TIFFWriteScanline(tif, const_cast<uchar*>(rgb.constScanLine(y)), uint32_t(y), 0);
    }
}

}  // namespace

QByteArray exifBlock(const QVariantMap& tags) {
    Exiv2::ExifData exif;
    for (auto it = tags.cbegin(); it != tags.cend(); ++it) {
        const std::string key = it.key().toStdString();
        if (it.value().typeId() == QMetaType::Int) {
            Exiv2::ExifKey k(key);
            Exiv2::Value::AutoPtr v = Exiv2::Value::create(k.defaultTypeId() == Exiv2::unsignedLong ? Exiv2::unsignedLong
                                                                                                    : Exiv2::unsignedShort);
            v->read(std::to_string(it.value().toInt()));
            exif.add(k, v.get());
        } else {
            exif[key] = it.value().toString().toStdString();
        }
    }
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
}

QByteArray makeHeif(const QImage& picture, const HeifSample& sample) {
    QByteArray out;
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context, sample.av1 ? heif_compression_AV1 : heif_compression_HEVC, &encoder)
            .code != heif_error_Ok) {
        heif_context_free(context);
        return out;
    }
    heif_encoder_set_lossy_quality(encoder, sample.quality);
    for (const auto& [name, value] : sample.settings) heif_encoder_set_parameter_string(encoder, name, value);
    heif_image* image = heifImage(picture, sample.bits);
    if (!sample.icc.isEmpty())
        heif_image_set_raw_color_profile(image, "prof", sample.icc.constData(), size_t(sample.icc.size()));
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(sample.orientation);
    heif_color_profile_nclx* nclx = nullptr;
    if (sample.nclxPrimaries) {
        nclx = heif_nclx_color_profile_alloc();
        heif_nclx_color_profile_set_color_primaries(nclx, uint16_t(sample.nclxPrimaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, heif_transfer_characteristic_IEC_61966_2_1);
        heif_nclx_color_profile_set_matrix_coefficients(nclx, heif_matrix_coefficients_ITU_R_BT_601_6);
        nclx->full_range_flag = 1;
        heif_image_set_nclx_color_profile(image, nclx);
        // The 'colr' box is left out by default, for one viewer's sake.
        options->macOS_compatibility_workaround_no_nclx_profile = 0;
        options->output_nclx_profile = nclx;
    }
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(context, image, encoder, options, &handle).code == heif_error_Ok) {
        if (!sample.exif.isEmpty())
            heif_context_add_exif_metadata(context, handle, sample.exif.constData(), int(sample.exif.size()));
        if (!sample.xmp.isEmpty())
            heif_context_add_XMP_metadata(context, handle, sample.xmp.constData(), int(sample.xmp.size()));
        if (!sample.thumbnail.isNull()) {
            heif_image* small = heifImage(sample.thumbnail, sample.bits);
            heif_image_handle* thumb = nullptr;
            heif_context_encode_thumbnail(context, small, handle, encoder, options,
                                          std::max(sample.thumbnail.width(), sample.thumbnail.height()) / 2, &thumb);
            heif_image_handle_release(thumb);
            heif_image_release(small);
        }
        heif_writer writer{1, writeToArray};
        heif_context_write(context, &writer, &out);
    }
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

QByteArray makeWebp(const QImage& picture, const WebpSample& sample) {
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    uint8_t* encoded = nullptr;
    const size_t size = sample.lossless
                            ? WebPEncodeLosslessRGBA(rgba.constBits(), rgba.width(), rgba.height(), int(rgba.bytesPerLine()), &encoded)
                            : WebPEncodeRGBA(rgba.constBits(), rgba.width(), rgba.height(), int(rgba.bytesPerLine()),
                                             float(sample.quality), &encoded);
    QByteArray out;
    if (size == 0) return out;
    WebPMux* mux = WebPMuxNew();
    const WebPData bitstream{encoded, size};
    WebPMuxSetImage(mux, &bitstream, 1);
    const auto setChunk = [&](const char* fourcc, const QByteArray& bytes) {
        if (bytes.isEmpty()) return;
        const WebPData data{reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
        WebPMuxSetChunk(mux, fourcc, &data, 1);
    };
    setChunk("ICCP", sample.icc);
    setChunk("EXIF", sample.exif);
    setChunk("XMP ", sample.xmp);
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK)
        out = QByteArray(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    WebPFree(encoded);
    return out;
}

QByteArray makeAnimatedWebp(const QList<QImage>& frames) {
    QByteArray out;
    if (frames.isEmpty()) return out;
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(frames.first().width(), frames.first().height(), &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.quality = 92;
    int timestamp = 0;
    for (const QImage& frame : frames) {
        const QImage rgba = frame.convertToFormat(QImage::Format_RGBA8888);
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.use_argb = 1;
        picture.width = rgba.width();
        picture.height = rgba.height();
        WebPPictureImportRGBA(&picture, rgba.constBits(), int(rgba.bytesPerLine()));
        WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += 100;
    }
    WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPAnimEncoderAssemble(encoder, &assembled))
        out = QByteArray(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    WebPAnimEncoderDelete(encoder);
    return out;
}

DngSample taggedDngSample() {
    DngSample sample;
    sample.make = QStringLiteral("Acme");
    sample.model = QStringLiteral("Sensor Three");
    sample.dateTimeOriginal = QStringLiteral("2021:06:01 10:20:30");
    sample.keywords = QStringList{QStringLiteral("elephants"), QStringLiteral("savanna")};
    sample.city = QStringLiteral("Nairobi");
    sample.lens = QStringLiteral("Acme 50mm f/1.8");
    return sample;
}

QByteArray makeDng(const QImage& scene, const DngSample& sample) {
    const int width = scene.width() & ~1, height = scene.height() & ~1;
    TiffFile file;
    TIFF* tif = file.tif;
    if (!tif) return QByteArray();
    const bool hasPreview = !sample.preview.isNull();
    const QByteArray make = sample.make.toUtf8(), model = sample.model.toUtf8();
    const QByteArray unique = make + ' ' + model;
    const uint8_t version[4] = {1, 4, 0, 0};
    const auto common = [&] {
        TIFFSetField(tif, TIFFTAG_MAKE, make.constData());
        TIFFSetField(tif, TIFFTAG_MODEL, model.constData());
        TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(sample.orientation));
        TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
        TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, version);
        TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, unique.constData());
        // XYZ (D65) to the sensor: linear sRGB primaries, each filter at its gain.
        const double xyzToRgb[9] = {3.2404542, -1.5371385, -0.4985314, -0.9692660, 1.8760108,
                                    0.0415560, 0.0556434, -0.2040259, 1.0572252};
        float matrix[9], neutral[3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) matrix[r * 3 + c] = float(xyzToRgb[r * 3 + c] * sample.gains[r]);
            neutral[r] = float(sample.gains[r] / sample.gains[1]);
        }
        TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, matrix);
        TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, uint16_t(21));  // D65
        TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    };

    if (hasPreview) {
        // IFD0 is the preview, the sensor data its sub-IFD, as cameras and converters write.
        toff_t subIfds[2] = {0, 0};
        TIFFSetField(tif, TIFFTAG_SUBIFD, sample.smallPicture.isNull() ? 1 : 2, subIfds);
        common();
        writeRgbPreview(tif, sample.preview, sample.jpegPreview);
        TIFFWriteDirectory(tif);
    }
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    if (!hasPreview) common();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 32803);  // colour filter array
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
    const uint16_t repeat[2] = {2, 2};
    const uint8_t pattern[4] = {0, 1, 1, 2};  // R G / G B
    TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
    TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, pattern);
    const float black = float(sample.blackLevel);
    TIFFSetField(tif, TIFFTAG_BLACKLEVEL, 1, &black);
    const uint32_t white = uint32_t(sample.whiteLevel);
    TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, &white);

    const QImage rgb = scene.convertToFormat(QImage::Format_RGB32);
    std::vector<uint16_t> row(static_cast<size_t>(width));
    const double range = sample.whiteLevel - sample.blackLevel;
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const int filter = pattern[(y & 1) * 2 + (x & 1)];
            const int v = filter == 0 ? qRed(line[x]) : filter == 1 ? qGreen(line[x]) : qBlue(line[x]);
            const double signal = std::min(1.0, srgbToLinear(v) * sample.gains[filter]);
            row[size_t(x)] = uint16_t(std::lround(sample.blackLevel + signal * range));
        }
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFWriteDirectory(tif);
    if (hasPreview && !sample.smallPicture.isNull()) {
        writeRgbPreview(tif, sample.smallPicture, false);
        TIFFWriteDirectory(tif);
    }
    QByteArray bytes = file.finish();
    if (bytes.isEmpty() ||
        (sample.dateTimeOriginal.isEmpty() && sample.keywords.isEmpty() && sample.city.isEmpty() && sample.lens.isEmpty()))
        return bytes;

    // The capture date lives in the EXIF directory, which Exiv2 adds to the written file,
    // as it adds the IPTC and XMP.
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size()));
        image->readMetadata();
        if (!sample.dateTimeOriginal.isEmpty()) {
            Exiv2::ExifData exif = image->exifData();
            exif["Exif.Photo.DateTimeOriginal"] = sample.dateTimeOriginal.toStdString();
            image->setExifData(exif);
        }
        Exiv2::IptcData iptc;
        for (const QString& word : sample.keywords) {
            Exiv2::Value::AutoPtr value = Exiv2::Value::create(Exiv2::string);
            value->read(word.toStdString());
            iptc.add(Exiv2::IptcKey("Iptc.Application2.Keywords"), value.get());
        }
        if (!sample.city.isEmpty()) iptc["Iptc.Application2.City"] = sample.city.toStdString();
        if (!iptc.empty()) image->setIptcData(iptc);
        if (!sample.lens.isEmpty()) {
            Exiv2::XmpData xmp;
            xmp["Xmp.aux.Lens"] = sample.lens.toStdString();
            image->setXmpData(xmp);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.open();
        bytes = QByteArray(reinterpret_cast<const char*>(io.mmap()), qsizetype(io.size()));
        io.munmap();
        io.close();
    } catch (const std::exception&) {
        return QByteArray();
    }
    return bytes;
}

QImage patchScene(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    for (int i = 0; i < patchCount(); ++i) {
        const int c = i % kColumns, r = i / kColumns;
        const QRect cell(c * width / kColumns, r * height / kRows, (c + 1) * width / kColumns - c * width / kColumns,
                         (r + 1) * height / kRows - r * height / kRows);
        p.fillRect(cell, kPatches[i]);
    }
    return image;
}

int patchCount() { return kColumns * kRows; }

QColor patchColour(int index) { return kPatches[index]; }

QPoint patchCentre(int index, QSize size) {
    const int c = index % kColumns, r = index / kColumns;
    return QPoint((2 * c + 1) * size.width() / (2 * kColumns), (2 * r + 1) * size.height() / (2 * kRows));
}

int colourError(QRgb pixel, const QColor& expected) {
    return std::max({std::abs(qRed(pixel) - expected.red()), std::abs(qGreen(pixel) - expected.green()),
                     std::abs(qBlue(pixel) - expected.blue())});
}

int worstPatchError(const QImage& picture) {
    int worst = 0;
    for (int i = 0; i < patchCount(); ++i)
        worst = std::max(worst, colourError(picture.pixel(patchCentre(i, picture.size())), patchColour(i)));
    return worst;
}

QImage readUprightChecked(const QString& path, QSize upright) {
    const platform::ImageHeader header = platform::readImageHeader(path);
    EXPECT_EQ(QSize(header.width, header.height), upright);
    EXPECT_EQ(header.orientation, 1);
    const QVariantMap props = platform::readImageProperties(path);
    EXPECT_EQ(props.value(platform::kPropsPixelWidth).toInt(), upright.width());
    EXPECT_EQ(props.value(platform::kPropsPixelHeight).toInt(), upright.height());
    EXPECT_EQ(props.value(platform::kPropsOrientation).toInt(), 1);
    EXPECT_EQ(props.value(platform::kPropsTIFF).toMap().value(platform::kPropsOrientation).toInt(), 1);
    const QImage image = platform::readImage(path);
    EXPECT_EQ(image.size(), upright);
    return image.size() == upright ? image : QImage();
}

QByteArray xmpWithFirmware(const QString& firmware) {
    return QByteArrayLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                             "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
                             "xmlns:aux=\"http://ns.adobe.com/exif/1.0/aux/\" aux:Firmware=\"") +
           firmware.toUtf8() + QByteArrayLiteral("\"/></rdf:RDF></x:xmpmeta>");
}

QByteArray makeGreyTiff(const QImage& grey) {
    TiffFile file;
    if (!file.tif) return {};
    TIFFSetField(file.tif, TIFFTAG_IMAGEWIDTH, uint32_t(grey.width()));
    TIFFSetField(file.tif, TIFFTAG_IMAGELENGTH, uint32_t(grey.height()));
    TIFFSetField(file.tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(file.tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(file.tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(file.tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(file.tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(file.tif, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
    for (int y = 0; y < grey.height(); ++y)
        TIFFWriteScanline(file.tif, const_cast<uchar*>(grey.constScanLine(y)), uint32_t(y), 0);
    return file.finish();
}

QString tiffcpFile(const QString& path, const QImage& picture, TiffSamples samples, const QStringList& tiffcpArguments,
                   int orientation) {
    const QString tiffcp = QStandardPaths::findExecutable(QStringLiteral("tiffcp"));
    const QString tiffset = QStandardPaths::findExecutable(QStringLiteral("tiffset"));
    if (tiffcp.isEmpty() || tiffset.isEmpty()) return QString();
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width(), height = rgb.height();
    const int channels = samples == TiffSamples::Grey8 ? 1 : samples == TiffSamples::Rgba8 || samples == TiffSamples::Cmyk8 ? 4 : 3;
    const int bytesPerSample = samples == TiffSamples::Rgb16 ? 2 : 1;
    const QString plain = path + QStringLiteral(".plain.tif");
    {
        TIFF* tif = TIFFOpen(QFile::encodeName(plain).constData(), "w");
        if (!tif) return QString();
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8 * bytesPerSample);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == TiffSamples::Grey8   ? PHOTOMETRIC_MINISBLACK
                                               : samples == TiffSamples::Cmyk8 ? PHOTOMETRIC_SEPARATED
                                                                               : PHOTOMETRIC_RGB);
        if (samples == TiffSamples::Rgba8) {
            const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(8));
        std::vector<uint8_t> row(size_t(width) * channels * bytesPerSample);
        for (int y = 0; y < height; ++y) {
            const uchar* in = rgb.constScanLine(y);
            for (int x = 0; x < width; ++x) {
                const uchar* p = in + 3 * x;
                uint8_t* out = row.data() + size_t(x) * channels * bytesPerSample;
                switch (samples) {
                case TiffSamples::Rgb8: std::memcpy(out, p, 3); break;
                case TiffSamples::Grey8: out[0] = uint8_t(qGray(p[0], p[1], p[2])); break;
                case TiffSamples::Rgba8:
                    std::memcpy(out, p, 3);
                    out[3] = uint8_t(std::min(255, x * 255 / std::max(1, width / 4)));
                    break;
                case TiffSamples::Cmyk8: {
                    const int k = 255 - std::max({p[0], p[1], p[2]});
                    for (int c = 0; c < 3; ++c) out[c] = uint8_t(255 - p[c] - k);
                    out[3] = uint8_t(k);
                    break;
                }
                case TiffSamples::Rgb16:
                    for (int c = 0; c < 3; ++c) {
                        const int v = std::clamp(p[c] * 257 + (x * 31 + y * 17 + c * 7) % 257 - 128, 0, 65535);
                        const uint16_t sample = uint16_t(v);
                        std::memcpy(out + 2 * c, &sample, 2);
                    }
                    break;
                }
            }
            if (TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) < 0) {
                TIFFClose(tif);
                return QString();
            }
        }
        TIFFClose(tif);
    }
    const bool copied = runTool(tiffcp, QStringList(tiffcpArguments) << plain << path) == 0;
    QFile::remove(plain);
    if (!copied) return QString();
    if (orientation != 1 &&
        runTool(tiffset, {QStringLiteral("-s"), QStringLiteral("274"), QString::number(orientation), path}) != 0)
        return QString();
    return path;
}

QByteArray makeGreyJp2(const QImage& grey) {
    opj_image_cmptparm_t parm{};
    parm.dx = parm.dy = 1;
    parm.w = OPJ_UINT32(grey.width());
    parm.h = OPJ_UINT32(grey.height());
    parm.prec = 8;
    opj_image_t* image = opj_image_create(1, &parm, OPJ_CLRSPC_GRAY);
    if (!image) return {};
    image->x1 = OPJ_UINT32(grey.width());
    image->y1 = OPJ_UINT32(grey.height());
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) image->comps[0].data[y * grey.width() + x] = grey.constScanLine(y)[x];
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0;  // lossless
    params.cp_disto_alloc = 1;
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("grey.jp2")));
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_JP2);
    opj_setup_encoder(codec, &params, image);
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.constData(), OPJ_FALSE);
    const bool ok = stream && opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    if (stream) opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    QFile f(QString::fromLocal8Bit(path));
    return ok && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int storedChannels(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray head = f.read(32);
    const QByteArray name = QFile::encodeName(path);
    if (head.startsWith("\xff\xd8")) {
        jpeg_decompress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        const QByteArray bytes = head + f.readAll();
        jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned long>(bytes.size()));
        const int components = jpeg_read_header(&c, TRUE) == JPEG_HEADER_OK ? c.num_components : 0;
        jpeg_destroy_decompress(&c);
        return components;
    }
    if (head.startsWith("\x89PNG") && head.size() > 25) {
        switch (head[25]) {
        case 0: case 3: return 1;
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 0;
        }
    }
    if (head.startsWith("II") || head.startsWith("MM")) {
        TIFF* tif = TIFFOpen(name.constData(), "r");
        if (!tif) return 0;
        uint16_t samples = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFClose(tif);
        return samples;
    }
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_JP2);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_setup_decoder(codec, &params);
    opj_stream_t* stream = opj_stream_create_default_file_stream(name.constData(), OPJ_TRUE);
    opj_image_t* image = nullptr;
    const int components = stream && opj_read_header(stream, codec, &image) && image ? int(image->numcomps) : 0;
    if (image) opj_image_destroy(image);
    if (stream) opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    return components;
}

QList<PhotoOfAKind> photosOfEachKind() {
    // Noise keeps the compressed data large, so every kind runs well past one page.
    QImage busy(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < busy.height(); ++y)
        for (int x = 0; x < busy.width(); ++x)
            busy.setPixel(x, y, (x * 7 + y * 13) % 5 == 0 ? qRgb((x * 31) & 255, (y * 17) & 255, (x ^ y) & 255)
                                                          : qRgb(x * 255 / 640, y * 255 / 480, 128));
    HeifSample heic;
    heic.quality = 100;
    return {
        {QStringLiteral("photo.jpg"), platform::encodeImage(busy, platform::ImageType::JPEG, 1.0)},
        {QStringLiteral("photo.png"), platform::encodeImage(busy, platform::ImageType::PNG, 1.0)},
        {QStringLiteral("photo.heic"), makeHeif(busy, heic)},
        {QStringLiteral("photo.dng"), makeDng(patchScene(640, 480))},
    };
}

bool cutToFirstPage(const QString& path) {
    QFile file(path);
    if (file.size() <= 4096 || !file.open(QIODevice::ReadWrite)) return false;
    return file.resize(4096);
}

}  // namespace testsupport
