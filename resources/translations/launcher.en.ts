<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="launcher.about.title">
        <source>launcher.about.title</source>
        <translation>About Vantor Online Launcher</translation>
    </message>
    <message id="launcher.about.text">
        <source>launcher.about.text</source>
        <extracomment>%1 first year of the notice, %2 current year, %3/%4 address of the GNU LGPL version 3 text, %5/%6 address of the Qt sources</extracomment>
        <translation>&lt;p&gt;&lt;b&gt;Vantor Online Launcher&lt;/b&gt;&lt;br/&gt;Copyright &amp;copy; %1&amp;ndash;%2 Quorvane GmbH. All rights reserved.&lt;/p&gt;&lt;p&gt;This launcher uses the Qt toolkit, which is licensed under the GNU Lesser General Public License version 3 (LGPL&amp;nbsp;v3). The licence text is available at &lt;a href=&quot;%3&quot;&gt;%4&lt;/a&gt;.&lt;/p&gt;&lt;p&gt;Qt is a product of The Qt Company Ltd. and its contributors. You can obtain the complete source code of the Qt libraries used by this launcher at &lt;a href=&quot;%5&quot;&gt;%6&lt;/a&gt;, and you may replace them with modified versions as the LGPL permits.&lt;/p&gt;</translation>
    </message>
</context>
</TS>
