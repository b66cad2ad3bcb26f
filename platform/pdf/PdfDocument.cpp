#include "platform/pdf/PdfDocument.h"

#include "platform/foundation/Log.h"
#include "platform/imageio/ImageIO.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

// Only std::shared_ptr is used with qpdf; its old PointerHolder interface stays off.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace platform {

namespace {

// Loads the document, or starts an empty one when the file is missing or damaged.
void openOrStart(QPDF& pdf, const QString& path) {
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        try {
            pdf.setSuppressWarnings(true);
            pdf.processFile(QFile::encodeName(path).constData());
            return;
        } catch (const std::exception& e) {
            log(u"%@: not a readable PDF document, starting a new one (%@)", path, QString::fromUtf8(e.what()));
        }
    }
    pdf.emptyPDF();
}

}  // namespace

bool appendJpegPageToPdf(const QString& documentPath, const QString& outputPath, const QByteArray& jpegData,
                         int pixelWidth, int pixelHeight, bool gray) {
    if (jpegData.isEmpty() || pixelWidth <= 0 || pixelHeight <= 0 || outputPath.isEmpty()) {
        log(u"%@: no picture to put on a PDF page", outputPath);
        return false;
    }
    const QFileInfo out(outputPath);
    QTemporaryFile temp(out.absolutePath() + QStringLiteral("/.") + out.fileName() + QStringLiteral(".XXXXXX"));
    if (!temp.open()) {
        log(u"%@: could not create a file in the destination folder (%@)", outputPath, temp.errorString());
        return false;
    }
    temp.close();
    const QByteArray tempName = QFile::encodeName(temp.fileName());
    try {
        QPDF pdf;
        openOrStart(pdf, documentPath);

        QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
        QPDFObjectHandle dict = image.getDict();
        dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        dict.replaceKey("/Width", QPDFObjectHandle::newInteger(pixelWidth));
        dict.replaceKey("/Height", QPDFObjectHandle::newInteger(pixelHeight));
        dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(gray ? "/DeviceGray" : "/DeviceRGB"));
        dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        image.replaceStreamData(std::string(jpegData.constData(), size_t(jpegData.size())),
                                QPDFObjectHandle::newName("/DCTDecode"), QPDFObjectHandle::newNull());

        const std::string drawing = "q " + std::to_string(pixelWidth) + " 0 0 " + std::to_string(pixelHeight) +
                                    " 0 0 cm /Im0 Do Q\n";
        QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, drawing);

        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Im0", image);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);

        QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
        page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, pixelWidth,
                                                                                            pixelHeight)));
        page.replaceKey("/Contents", contents);
        page.replaceKey("/Resources", resources);
        QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);

        // The writer keeps the file name it is given and reads it again while writing,
        // so the encoded name must outlive the writer.
        QPDFWriter writer(pdf, tempName.constData());
        writer.setStaticID(false);
        writer.write();
    } catch (const std::exception& e) {
        log(u"%@: the PDF document could not be written (%@)", outputPath, QString::fromUtf8(e.what()));
        return false;
    }
    if (std::rename(tempName.constData(), QFile::encodeName(outputPath).constData()) != 0) {
        log(u"%@: could not move the finished file into place (%@)", outputPath,
            QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    temp.setAutoRemove(false);
    QFile::setPermissions(outputPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                          QFileDevice::ReadOther);
    return true;
}

bool appendPicturePageToPdf(const QString& documentPath, const QString& outputPath, const QImage& picture,
                            double quality) {
    const OutputPixels page = pixelsForOutput(picture, ColourTarget{});
    const QByteArray jpeg = page.pixels.isNull() ? QByteArray() : encodeImage(page.pixels, ImageType::JPEG, quality);
    return appendJpegPageToPdf(documentPath, outputPath, jpeg, page.pixels.width(), page.pixels.height());
}

int pdfPageCount(const QString& path) {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile(QFile::encodeName(path).constData());
        return int(QPDFPageDocumentHelper(pdf).getAllPages().size());
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace platform
