# The script templates of the generated queue scripts and launchers, embedded into the
# installer (korvi_embed from installer/CMakeLists.txt; paths relative to installer/).
korvi_embed(kinstaller KorviPrintkvlnScript templates/KorviPrintkvln.sh)
korvi_embed(kinstaller pv4DriverScript templates/v4DriverScript.sh)
korvi_embed(kinstaller pv5DriverScript templates/v5DriverScript.sh)
korvi_embed(kinstaller KorviKSFScript templates/KorviKSF.sh)
korvi_embed(kinstaller SimpleScript templates/SimpleScript.sh)
