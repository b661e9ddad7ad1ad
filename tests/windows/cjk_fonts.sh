# Links the faces of the dialogs to a face with Chinese, Japanese and Korean characters in the
# wine prefix $WINEPREFIX, as Windows links its own: wine draws them from the Unix fonts
# (fonts-wqy-microhei) only through such links. Sourced; needs wine_run.
link_cjk_fonts() {
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    local face
    for face in "Microsoft Sans Serif" "MS Sans Serif" "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" \
                "Segoe UI"; do
        env -u DISPLAY "$wine_run" reg.exe add "$key" /v "$face" /t REG_MULTI_SZ \
            /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f >/dev/null 2>&1 </dev/null
    done
}
