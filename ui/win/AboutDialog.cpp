#include "AboutDialog.h"

#include "VantrelVersion.h"
#include "WideText.h"
#include "resource.h"

#include <stdarg.h>
#include <stdio.h>

#include <string>

namespace {

// After the first version line; change lines begin with four blanks.
const char* const kHistory[] = {
    "    一部のシリアルデバイスで動作しなかったのを修正",
    "Ver 1.30 2004/4/2",
    "    キャプチャタイマの記録時間の設定を追加",
    "    送受信の生データを別COMへ出力する機能を追加",
    "    印刷がキャンセルできない問題を修正",
    "    COM10以上が扱えない問題を修正",
    "Ver 1.21 2004/1/28",
    "    受信側２バイト文字の誤表示を修正",
    "    Binary強調表示設定の誤表示を修正",
    "Ver 1.20 2004/1/15",
    "    送受信データの説明記号が逆だったのを修正",
    "    データの２バイト文字表示に対応",
    "    データの強調表示機能を追加",
    "    Asciiデータの表示位置がおかしかったのを修正",
    "    色設定に選択色の項目を追加",
    "    通信設定も印刷するように修正",
    "    印刷設定に余白設定の項目を追加",
    "    印刷設定にソフト割付の項目を追加",
    "    印刷時は背景色が白色になるように修正",
    "Ver 1.10 2003/12/20",
    "    キャプチャモニタに印刷機能を追加",
    "    異常発生コードの説明がヘルプになかったので追加",
    "    Windowsフォルダに不要ファイルが作られるのを修正",
    "    停止処理中を示すダイアログの表示を追加",
    "Ver 1.00 2003/11/26",
    "    公開初版",
};

// The first test version, released before 1.00.
const char* const kFirstRelease[] = {
    "    １ｓｔリリース(非公開テスト版)",
    "    基本機能実装完了",
};

std::string Formatted(const char* format, ...)
{
    char text[64];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

AboutDialog::AboutDialog() : Dialog(IDD_ABOUTBOX) {}

bool AboutDialog::OnInitDialog()
{
    SetDlgItemTextW(Handle(), IDC_ABOUT_TITLE, WideFromUtf8(Formatted("Vantrel Version %s", VANTREL_VERSION)).c_str());
    HWND list = GetDlgItem(Handle(), IDC_ABOUT_HISTORY);
    auto add = [list](const std::string& line) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(line).c_str()));
    };
    add(Formatted("Ver %s 2009/1/7", VANTREL_VERSION));
    for (const char* line : kHistory)
        add(line);
    add(Formatted("Ver %d.%d 2003/11/11", 0, 95));
    for (const char* line : kFirstRelease)
        add(line);
    return true;
}
