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
#include <qpdf/Buffer.hh>
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
                         int pixelWidth, int pixelHeight, bool gray, WriteCheck* check) {
    if (jpegData.isEmpty() || pixelWidth <= 0 || pixelHeight <= 0 || outputPath.isEmpty()) {
        log(u"%@: no picture to put on a PDF page", outputPath);
        return false;
    }
    QByteArray document;
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

        // Made in memory and written by the file writer, which counts every byte it hands
        // to the file and reads the file back.
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.setStaticID(false);
        writer.write();
        const std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
        document = QByteArray(reinterpret_cast<const char*>(written->getBuffer()), qsizetype(written->getSize()));
    } catch (const std::bad_alloc&) {
        throw;  // a memory shortage is the caller's to tell, not a document that could not be made
    } catch (const std::exception& e) {
        log(u"%@: the PDF document could not be written (%@)", outputPath, QString::fromUtf8(e.what()));
        return false;
    }
    return writeFileBytes(outputPath, document, FileTarget::ReplaceAtomically, check);
}

bool appendPicturePageToPdf(const QString& documentPath, const QString& outputPath, const QImage& picture,
                            double quality, WriteCheck* check) {
    const OutputPixels page = pixelsForOutput(picture, ColourTarget{});
    const QByteArray jpeg = page.pixels.isNull() ? QByteArray() : encodeImage(page.pixels, ImageType::JPEG, quality);
    return appendJpegPageToPdf(documentPath, outputPath, jpeg, page.pixels.width(), page.pixels.height(), false, check);
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
