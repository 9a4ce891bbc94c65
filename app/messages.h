// Everything the updater says to the user: one caption and four texts, Japanese, as code page
// 932 (Shift-JIS) bytes. Octal escapes keep each byte exact whatever the source encoding.
#pragma once

// "ザルポの更新"
const char CaptionText[] = "\203U\203\213\203|\202\314\215X\220V";

// "更新すべきキーディスクが見つかりません。"
const char NoKeyDiskText[] =
    "\215X\220V\202\267\202\327\202\253\203L\201[\203f\203B\203X\203N\202\252\214\251\202\302"
    "\202\251\202\350\202\334\202\271\202\361\201B";

// "%c:のキーディスクを最新版に更新します。\nよろしいですか?" (%c: the drive letter)
const char ConfirmText[] =
    "%c:\202\314\203L\201[\203f\203B\203X\203N\202\360\215\305\220V\224\305\202\311\215X\220V"
    "\202\265\202\334\202\267\201B\n\202\346\202\353\202\265\202\242\202\305\202\267\202\251?";

// "更新に失敗しました。"
const char FailedText[] = "\215X\220V\202\311\216\270\224s\202\265\202\334\202\265\202\275\201B";

// "キーディスクの更新を完了しました。\n続いてセットアップを実行しますか?"
const char DoneText[] =
    "\203L\201[\203f\203B\203X\203N\202\314\215X\220V\202\360\212\256\227\271\202\265\202\334"
    "\202\265\202\275\201B\n\221\261\202\242\202\304\203Z\203b\203g\203A\203b\203v\202\360\216"
    "\300\215s\202\265\202\334\202\267\202\251?";

// The product's setup program, started from the product folder after a successful update.
const char SetupProgramName[] = "Setup.exe";
