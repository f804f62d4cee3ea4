#include "pages/file_types.h"

#include <array>

namespace lun {
namespace {

// Descriptions name the group and its extensions: one extension as
// "(*.DOC)", several each followed by ";". Rows of special tokens (mail
// sources, directories, every file) describe what they stand for.
constexpr std::array<FileTypeRow, 30> kRows = {{
    {"|DOC|DOCX|DOCM|", "Word文件", "Word文件(*.DOC;*.DOCX;*.DOCM;)"},
    {"|XLS|XLSX|XLSM|", "Excel文件", "Excel文件(*.XLS;*.XLSX;*.XLSM;)"},
    {"|PPT|PPTX|PPTM|", "PPT文件", "PPT文件(*.PPT;*.PPTX;*.PPTM;)"},
    {"|HTM|HTX|HTT|HTML|HTA|", "Html文件", "Html文件(*.HTM;*.HTX;*.HTT;*.HTML;*.HTA;)"},
    {"|WPS|", "WPS文件", "WPS文件(*.WPS)"},
    {"|GW|", "潍坊文星电子文档", "潍坊文星电子文档(*.GW)"},
    {"|CAJ|", "清华同方电子文献", "清华同方电子文献(*.CAJ)"},
    {"|PDF|", "Pdf文件", "Pdf文件(*.PDF)"},
    {"|S2|", "方正大样文件", "方正大样文件(*.S2)"},
    {"|MPS|", "潍坊文星大样文件", "潍坊文星大样文件(*.MPS)"},
    {"|TXT|", "Txt文件", "Txt文件(*.TXT)"},
    {"|RTF|", "Rtf文件", "Rtf文件(*.RTF)"},
    {"|MHT|MHTML|", "Mht文件", "Mht文件(*.MHT;*.MHTML;)"},
    {"|VSD|VSS|VST|VDX|VSX|VTX|", "Visio文件", "Visio文件(*.VSD;*.VSS;*.VST;*.VDX;*.VSX;*.VTX;)"},
    {"|EXE|COM|DLL|", "可执行程序", "可执行程序(*.EXE;*.COM;*.DLL;)"},
    {"|MP3|MID|WMA|RM|WAV|MIDI|RMI|AU|AIF|AIFF|AIFC|ASX|WAX|M3U|WPL|WVX|WMX|FLAC|OGG|OGA|OPUS|M4A|",
     "音乐",
     "音乐(*.MP3;*.MID;*.WMA;*.RM;*.WAV;*.MIDI;*.RMI;*.AU;*.AIF;*.AIFF;*.AIFC;*.ASX;*.WAX;"
     "*.M3U;*.WPL;*.WVX;*.WMX;*.FLAC;*.OGG;*.OGA;*.OPUS;*.M4A;)"},
    {"|AVI|SWF|WMV|MPG|ASF|MPEG|MOV|RA|RAM|RMVB|VOB|MPA|MPE|", "视频",
     "视频(*.AVI;*.SWF;*.WMV;*.MPG;*.ASF;*.MPEG;*.MOV;*.RA;*.RAM;*.RMVB;*.VOB;*.MPA;*.MPE;)"},
    {"|BMP|GIF|ICO|JPG|JPEG|PNG|TIF|TIFF|", "图像",
     "图像(*.BMP;*.GIF;*.ICO;*.JPG;*.JPEG;*.PNG;*.TIF;*.TIFF;)"},
    {"|CHM|", "帮助文件", "帮助文件(*.CHM)"},
    {"|SXC|STC|SXD|SXI|STI|SXW|SXG|STW|STM|ODT|OTT|ODG|OTG|ODP|OTP|ODS|OTS|ODF|", "Open Office",
     "Open Office(*.SXC;*.STC;*.SXD;*.SXI;*.STI;*.SXW;*.SXG;*.STW;*.STM;*.ODT;*.OTT;*.ODG;"
     "*.OTG;*.ODP;*.OTP;*.ODS;*.OTS;*.ODF;)"},
    {"|ZIP|TAR|GZ|TGZ|BZ2|TBZ|TBZ2|XZ|TXZ|7Z|", "压缩文件",
     "压缩文件中的文档(*.ZIP;*.TAR;*.GZ;*.TGZ;*.BZ2;*.TBZ;*.TBZ2;*.XZ;*.TXZ;*.7Z;)"},
    {"|FOXMAIL|", "Foxmail邮件", "Foxmail的全部邮件"},
    {"|OUTLOOK|", "Outlook邮件", "Outlook的全部邮件"},
    {"|PST|OST|", "Outlook数据文件", "Outlook数据文件中的邮件(*.PST;*.OST;)"},
    {"|OUTLOOKEXPRESS|", "Outlook Express", "Outlook Express的全部邮件"},
    {"|EML|", "单独存放的电子邮件", "单独存放的电子邮件(*.EML)"},
    {"|THUNDERBIRD|MAILDIR|", "Thunderbird和Maildir邮件",
     "Thunderbird邮箱和Maildir邮件夹中的全部邮件"},
    {"|C|CPP|H|CXX|HXX|TLI|TLH|PAS|FRM|CLS|JSP|ASP|JAVA|", "源代码文件",
     "源代码文件(*.C;*.CPP;*.H;*.CXX;*.HXX;*.TLI;*.TLH;*.PAS;*.FRM;*.CLS;*.JSP;*.ASP;*.JAVA;)"},
    {"|DIRECTORY|", "目录名", "所有的目录名"},
    {"|FILENAME|", "所有文件名", "所有的文件名"},
}};

}  // namespace

std::span<const FileTypeRow> BuiltInFileTypes() { return kRows; }

const FileTypeRow* FileTypeAt(int index) {
  if (index < 0 || static_cast<size_t>(index) >= kRows.size()) return nullptr;
  return &kRows[static_cast<size_t>(index)];
}

}  // namespace lun
