@echo off
rem %1 %path% %%
if not exist C:\WINDOWS\SYSTEM.INI goto end
del /q "C:\WINDOWS\TEMP\PELLAM\*.*"
rd C:\WINDOWS\TEMP\PELLAM
erase %0
:end
exit
