:Repeat
del "C:\WINDOWS\TEMP\PELLAM\UPGRADE.EXE"
if exist "C:\WINDOWS\TEMP\PELLAM\UPGRADE.EXE" goto Repeat
rmdir "C:\WINDOWS\TEMP\PELLAM"
del "\PellamUpgradeDelUS.bat"
